# SEG-Y through segyio, DICOM through GDCM.
target_sources(vexa_formats PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/stubs_segydicom.cpp)
