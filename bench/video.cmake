vexa_add_bench(video_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/video_bench.cpp LIBS vexa_video)
