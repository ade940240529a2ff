# Widgets of this subsystem, gathered into vexa_gui by app/main/gui.
list(APPEND vexa_gui_sources
  ${CMAKE_CURRENT_LIST_DIR}/batchrun.cpp
  ${CMAKE_CURRENT_LIST_DIR}/batchrun.h
  ${CMAKE_CURRENT_LIST_DIR}/kindwindows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kindwindows.h
  ${CMAKE_CURRENT_LIST_DIR}/logwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/logwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/mainwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mainwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/menurender.cpp
  ${CMAKE_CURRENT_LIST_DIR}/menurender.h
  ${CMAKE_CURRENT_LIST_DIR}/qthost.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qthost.h
  ${CMAKE_CURRENT_LIST_DIR}/startup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup.h
  ${CMAKE_CURRENT_LIST_DIR}/taskwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/taskwindow.h
)
