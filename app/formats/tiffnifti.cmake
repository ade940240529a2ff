# TIFF through libtiff, NIfTI through niftilib. Debian's NIFTI CMake package names
# library paths that do not exist, so niftilib is found by hand.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VEXA_LIBTIFF REQUIRED IMPORTED_TARGET libtiff-4)
find_path(VEXA_NIFTI_INCLUDE_DIR nifti2_io.h PATH_SUFFIXES nifti REQUIRED)
find_library(VEXA_NIFTI2_LIBRARY nifti2 REQUIRED)
find_package(ZLIB REQUIRED)
target_sources(vexa_formats PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/tiffformat.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/niftiformat.cpp)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/niftiformat.cpp PROPERTIES
  INCLUDE_DIRECTORIES ${VEXA_NIFTI_INCLUDE_DIR})
target_link_libraries(vexa_formats PRIVATE PkgConfig::VEXA_LIBTIFF ${VEXA_NIFTI2_LIBRARY} ZLIB::ZLIB m)
