# Parameter descriptions of any bytes, laid out and validated with any field texts.
vexa_add_fuzzer(params_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/params_fuzz.cpp LIBS vexa_params)
