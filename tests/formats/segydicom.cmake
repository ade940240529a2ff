list(APPEND VEXA_FORMATS_TEST_SOURCES segy_test.cpp dicom_test.cpp)
