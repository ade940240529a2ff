# Any bytes through the text-header format readers and the DICOM reader (probe, then read).
vexa_add_fuzzer(formats_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats_fuzz.cpp LIBS vexa_formats)
