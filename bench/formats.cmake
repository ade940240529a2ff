set(GDCM_SKIP_USE_VTK ON)
find_package(GDCM REQUIRED)
vexa_add_bench(formats_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats_bench.cpp
  LIBS vexa_formats gdcmMSFF)
