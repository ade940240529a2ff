# Widgets of this subsystem, gathered into vexa_gui by app/main/gui.
list(APPEND vexa_gui_sources
  ${CMAKE_CURRENT_LIST_DIR}/correctionwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/correctionwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/palettemanager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/palettemanager.h
  ${CMAKE_CURRENT_LIST_DIR}/recordcorrection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recordcorrection.h
)
