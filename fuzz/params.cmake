# Parameter descriptions of any bytes, laid out and validated with any field texts.
file(GLOB params_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/params/*.cpp)
vexa_add_fuzzer(params_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/params_fuzz.cpp ${params_fuzz_sources}
  LIBS vexa_common Threads::Threads)
target_include_directories(params_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/app)
