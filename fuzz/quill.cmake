vexa_add_fuzzer(quill_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/quill_fuzz.cpp LIBS quill)
