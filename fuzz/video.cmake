# Films of any bytes: opened, counted, first and last frames decoded.
vexa_add_fuzzer(video_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/video_fuzz.cpp LIBS vexa_video)
