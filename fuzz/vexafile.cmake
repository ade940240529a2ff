vexa_add_fuzzer(vexafile_fuzz
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/vexafile_fuzz.cpp
  LIBS vexaFile)
