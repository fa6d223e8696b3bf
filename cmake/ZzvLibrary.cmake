# zzv_component(<target> ALIAS <ns::name> PUBLIC_DEPS ... PRIVATE_DEPS ... TEST_DEPS ...)
# One static library per component: every src/*.cpp, with include/ exported;
# every tests/*_test.cpp goes into one gtest binary registered with ctest.
function(zzv_component target)
  cmake_parse_arguments(ARG "" "ALIAS" "PUBLIC_DEPS;PRIVATE_DEPS;TEST_DEPS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp")
  add_library(${target} STATIC ${_sources})
  add_library(${ARG_ALIAS} ALIAS ${target})
  target_include_directories(${target} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/include")
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE zzv_warnings ${ARG_PRIVATE_DEPS})
  file(GLOB _tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp")
  if(_tests)
    zzv_test(${target}_tests SOURCES ${_tests} DEPS ${target} ${ARG_TEST_DEPS})
  endif()
endfunction()

# zzv_test(<target> SOURCES ... DEPS ...): one gtest binary, registered with ctest.
# ZZV_TEST_DATA_DIR points at tests/data so tests never depend on the working directory.
function(zzv_test target)
  if(NOT ZZV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE zzv_warnings ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE ZZV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
endfunction()
