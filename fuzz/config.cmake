# The configuration file (its plug-in library list included) and the command-line options.
vexa_add_fuzzer(config_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/config_fuzz.cpp LIBS vexa_config)
