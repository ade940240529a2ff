vexa_add_bench(mesh_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mesh_bench.cpp LIBS vexa_mesh)
