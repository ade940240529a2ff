# Widgets of this subsystem, gathered into vexa_gui by app/main/gui.
find_package(Qt6 REQUIRED COMPONENTS Multimedia)
list(APPEND vexa_gui_sources
  ${CMAKE_CURRENT_LIST_DIR}/filmwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filmwindow.h
)
list(APPEND vexa_gui_libs Qt6::Multimedia)
