# Raw import of any bytes with any answers of its box, against the real file size.
vexa_add_fuzzer(rawimport_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/rawimport_fuzz.cpp LIBS vexa_data)
