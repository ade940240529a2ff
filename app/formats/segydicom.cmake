# SEG-Y through segyio (static library, no CMake package), DICOM through GDCM.
find_path(SEGYIO_INCLUDE_DIR segyio/segy.h REQUIRED)
find_library(SEGYIO_LIBRARY NAMES libsegyio.a segyio REQUIRED)
set(GDCM_SKIP_USE_VTK ON)
find_package(GDCM REQUIRED)
target_sources(vexa_formats PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/segyformat.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/segycache.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/dicomformat.cpp)
target_include_directories(vexa_formats PRIVATE ${SEGYIO_INCLUDE_DIR})
target_link_libraries(vexa_formats PRIVATE ${SEGYIO_LIBRARY} gdcmMSFF)
