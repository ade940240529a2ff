# Image series of slice files of any bytes: headers, the written description, reopened.
vexa_add_fuzzer(series_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/series_fuzz.cpp LIBS vexa_data)
