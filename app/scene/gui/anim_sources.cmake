# Window side of animation playback.
list(APPEND vexa_gui_sources
  ${CMAKE_CURRENT_LIST_DIR}/animplayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/animplayer.h
)
