# "INRIA avec référence" with a reference header of any bytes.
vexa_add_fuzzer(inriaref_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/inriaref_fuzz.cpp LIBS vexa_data)
