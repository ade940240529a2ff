# vexaFile past the header: boxes in every orientation, logical parts, combined writes.
vexa_add_fuzzer(vexafileio_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/vexafileio_fuzz.cpp LIBS vexaFile)
