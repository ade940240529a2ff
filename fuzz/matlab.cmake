# MAT files of any bytes through the variable list and the reader.
vexa_add_fuzzer(matlab_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/matlab_fuzz.cpp LIBS vexa_matlab)
