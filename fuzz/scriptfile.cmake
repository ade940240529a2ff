# Script files of any bytes, opened by name: they must run as the same bytes in memory do.
vexa_add_fuzzer(scriptfile_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/scriptfile_fuzz.cpp LIBS vexa_script)
