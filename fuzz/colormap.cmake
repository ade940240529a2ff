# Colormap files of any bytes, then the written copy of what loads.
vexa_add_fuzzer(colormap_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/colormap_fuzz.cpp LIBS vexa_display)
