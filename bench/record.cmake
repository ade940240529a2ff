# Recording a 3D view into a film needs the Qt widgets library (and an X server to run).
if(TARGET vexa_gui)
  vexa_add_bench(record_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/record_bench.cpp LIBS vexa_gui)
endif()
