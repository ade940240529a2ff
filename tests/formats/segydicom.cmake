list(APPEND VEXA_FORMATS_TEST_SOURCES segy_test.cpp segycache_test.cpp dicom_test.cpp)
