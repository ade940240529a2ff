# Script lines and files of any bytes through the lexer, the reduction and the runner.
vexa_add_fuzzer(script_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/script_fuzz.cpp LIBS vexa_script)
