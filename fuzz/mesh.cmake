# Mesh files of any bytes through every reader, then the finishing pass and the writers.
vexa_add_fuzzer(mesh_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/mesh_fuzz.cpp
  ${CMAKE_SOURCE_DIR}/app/mesh/trimesh.cpp ${CMAKE_SOURCE_DIR}/app/mesh/meshformats.cpp
  ${CMAKE_SOURCE_DIR}/app/mesh/randomcolour.cpp
  LIBS vexa_common Threads::Threads)
target_include_directories(mesh_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/app)
