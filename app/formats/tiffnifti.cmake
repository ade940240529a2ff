# TIFF through libtiff, NIfTI through niftilib.
target_sources(vexa_formats PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/stubs_lib.cpp)
