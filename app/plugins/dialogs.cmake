# Plug-in dialogs and window identifiers.
target_sources(vexa_plugins PRIVATE ${CMAKE_CURRENT_LIST_DIR}/dialogapi.cpp)
# Positions under the image windows' zoom.
target_link_libraries(vexa_plugins PUBLIC vexa_views)
