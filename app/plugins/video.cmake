# The video stream and video file callbacks, on the film datum of app/video.
target_sources(vexa_plugins PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/videoapi.cpp)
target_link_libraries(vexa_plugins PUBLIC vexa_video)
