# Any bytes as an animation document, played into a view that only counts.
vexa_add_fuzzer(anim_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/anim_fuzz.cpp LIBS vexa_scene)
