# Mesh files of any bytes through every reader, then the finishing pass and the writers.
vexa_add_fuzzer(mesh_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mesh_fuzz.cpp LIBS vexa_mesh)
