# Animation files and camera-motion files, played into a scene.
target_sources(vexa_scene PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/anim.cpp
  ${CMAKE_CURRENT_LIST_DIR}/animgeometry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/animscene.cpp
  ${CMAKE_CURRENT_LIST_DIR}/motion.cpp)
target_link_libraries(vexa_scene PUBLIC vexa_tasks vexa_log quill vexaFile vexaMem)
# Films are recorded when the video layer is built.
if(TARGET vexa_video)
  target_link_libraries(vexa_scene PUBLIC vexa_video)
  target_compile_definitions(vexa_scene PRIVATE VEXA_ANIM_FILMS=1)
endif()
