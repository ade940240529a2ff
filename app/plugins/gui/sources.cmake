# Widgets of this subsystem, gathered into vexa_gui by app/main/gui.
list(APPEND vexa_gui_sources
  ${CMAKE_CURRENT_LIST_DIR}/dialogwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialogwindow.h
)
