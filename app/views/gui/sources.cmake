# Widgets of this subsystem, gathered into vexa_gui by app/main/gui.
find_package(Qt6 REQUIRED COMPONENTS Multimedia)
list(APPEND vexa_gui_sources
  ${CMAKE_CURRENT_LIST_DIR}/audiowindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/audiowindow.h
  ${CMAKE_CURRENT_LIST_DIR}/graphwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/graphwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/imagewindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/imagewindow.h
)
# Qt Multimedia plays audio data.
list(APPEND vexa_gui_libs Qt6::Multimedia)
