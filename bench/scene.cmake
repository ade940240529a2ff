# The 3D view's frame time needs the Qt widgets library (and an X server to run).
if(TARGET vexa_gui)
  vexa_add_bench(scene_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/scene_bench.cpp LIBS vexa_gui)
endif()
