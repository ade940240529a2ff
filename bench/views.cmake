vexa_add_bench(views_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/views_bench.cpp LIBS vexa_views)
