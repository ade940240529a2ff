# vexa_add_test(<name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable per target; every test case is registered with CTest and
# carries the LABELS. Label a suite `threaded` when it starts threads, directly or
# through the code it drives: the ThreadSanitizer run selects them with ctest -L threaded.
# Tests find ../shared/testdata through VEXA_TESTDATA_DIR and skip when it is absent.
include(GoogleTest)
function(vexa_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  find_package(GTest REQUIRED)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads ${CMAKE_DL_LIBS})
  target_compile_definitions(${name} PRIVATE
    VEXA_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/../shared/testdata"
    VEXA_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    VEXA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  if(ARG_LABELS)
    # The discovery PROPERTIES flatten lists, so a second label would be lost: label the
    # cases from a CTest file read after the discovered list (<name>_TESTS) is known.
    set(label_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${label_file}
      "if(${name}_TESTS)\n"
      "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_file})
  endif()
endfunction()

# vexa_add_bench(<name> SOURCES ... LIBS ...)
function(vexa_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# vexa_add_subsystem(<name> SOURCES ... [DEPS ...])
# A GUI-free subsystem of the program: the listed files of app/<name>/ become the
# static library vexa_<name>, which links only what it names in DEPS (other
# subsystems as vexa_<sub>, libraries by target name). Headers are included from
# app/ ("data/datarecord.h"); scripts/check_layers.sh keeps includes pointing down.
function(vexa_add_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(vexa_${name} STATIC ${ARG_SOURCES})
  target_include_directories(vexa_${name} PUBLIC ${CMAKE_SOURCE_DIR}/app)
  target_link_libraries(vexa_${name} PUBLIC vexa_common Threads::Threads ${ARG_DEPS})
endfunction()
