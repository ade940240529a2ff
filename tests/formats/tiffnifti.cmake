# TIFF through libtiff, NIfTI through niftilib.
list(APPEND VEXA_FORMATS_TEST_SOURCES tiff_test.cpp nifti_test.cpp)
