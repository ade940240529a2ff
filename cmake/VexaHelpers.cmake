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

# vexa_add_subsystem(<name> [LIBS ...])
# A GUI-free subsystem of the program: every .c/.cpp file of app/<name>/ (not of its
# gui/ folder) goes into the static library vexa_<name>. Headers are included from
# app/ ("data/datarecord.h"), so subsystems reach each other by folder name.
function(vexa_add_subsystem name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(NOT sources)
    add_library(vexa_${name} INTERFACE)
    target_include_directories(vexa_${name} INTERFACE ${CMAKE_SOURCE_DIR}/app)
    target_link_libraries(vexa_${name} INTERFACE vexa_common)
    return()
  endif()
  add_library(vexa_${name} STATIC ${sources})
  target_include_directories(vexa_${name} PUBLIC ${CMAKE_SOURCE_DIR}/app)
  target_link_libraries(vexa_${name} PUBLIC vexa_common Threads::Threads ${CMAKE_DL_LIBS} ${ARG_LIBS})
  foreach(lib quill vexaMem vexaFile randgen arbor)
    if(TARGET ${lib})
      target_link_libraries(vexa_${name} PUBLIC ${lib})
    endif()
  endforeach()
endfunction()
