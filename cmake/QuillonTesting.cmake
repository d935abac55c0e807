find_package(GTest REQUIRED)
include(GoogleTest)

# quillon_add_test(NAME SOURCES... LIBS ...) builds one GoogleTest program and registers its cases.
function(quillon_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE quillon_common ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QUILLON_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)
endfunction()

# Header-only helpers shared by the tests (processes, a fake lyrics service).
find_package(PkgConfig REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(quillon_test_support INTERFACE)
target_include_directories(quillon_test_support INTERFACE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(quillon_test_support INTERFACE PkgConfig::HTTPLIB Threads::Threads)
