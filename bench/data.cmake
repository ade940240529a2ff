vexa_add_bench(data_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/data_bench.cpp LIBS vexa_data)
