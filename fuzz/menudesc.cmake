# Plug-in menu descriptions of any bytes, built into menu trees.
vexa_add_fuzzer(menudesc_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/menudesc_fuzz.cpp LIBS vexa_menus)
