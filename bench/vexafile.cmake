vexa_add_bench(vexafile_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/vexafile_bench.cpp
  LIBS vexaFile)
