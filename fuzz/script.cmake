# Script lines and files of any bytes through the lexer, the reduction and the runner.
file(GLOB script_fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/script/*.cpp
  ${CMAKE_SOURCE_DIR}/app/params/*.cpp)
vexa_add_fuzzer(script_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/script_fuzz.cpp ${script_fuzz_sources}
  LIBS vexa_common Threads::Threads)
target_include_directories(script_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/app)
