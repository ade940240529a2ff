vexa_add_bench(bigblock_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/bigblock_bench.cpp
  LIBS vexa_data)
