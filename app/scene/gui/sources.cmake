# Widgets of this subsystem, gathered into vexa_gui by app/main/gui.
find_package(Qt6 REQUIRED COMPONENTS OpenGL OpenGLWidgets)
list(APPEND vexa_gui_sources
  ${CMAKE_CURRENT_LIST_DIR}/filmcapturegui.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filmcapturegui.h
  ${CMAKE_CURRENT_LIST_DIR}/offscreenrenderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/offscreenrenderer.h
  ${CMAKE_CURRENT_LIST_DIR}/scenerenderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scenerenderer.h
  ${CMAKE_CURRENT_LIST_DIR}/view3dwidget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/view3dwidget.h
)
list(APPEND vexa_gui_libs Qt6::OpenGL Qt6::OpenGLWidgets)
include(${CMAKE_CURRENT_LIST_DIR}/anim_sources.cmake OPTIONAL)
