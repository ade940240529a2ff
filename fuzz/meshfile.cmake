# Mesh files of any bytes through readMeshFile and readMeshColour.
vexa_add_fuzzer(meshfile_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/meshfile_fuzz.cpp LIBS vexa_mesh)
