# vexa_add_test(<name> SOURCES ... LIBS ...)
# One GoogleTest executable per target; every test case is registered with CTest.
# Tests find ../shared/testdata through VEXA_TESTDATA_DIR and skip when it is absent.
include(GoogleTest)
function(vexa_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  find_package(GTest REQUIRED)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads ${CMAKE_DL_LIBS})
  target_compile_definitions(${name} PRIVATE
    VEXA_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/../shared/testdata"
    VEXA_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    VEXA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# vexa_add_bench(<name> SOURCES ... LIBS ...)
function(vexa_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
endfunction()
