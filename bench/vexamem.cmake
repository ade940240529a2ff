vexa_add_bench(vexamem_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/vexamem_bench.cpp LIBS vexaMem)
