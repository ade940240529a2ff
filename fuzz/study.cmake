# Any bytes as a study file, and as a mesh file whose colour the data tree reads.
vexa_add_fuzzer(study_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/study_fuzz.cpp LIBS vexa_study)
