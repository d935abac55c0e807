find_package(GTest REQUIRED)
include(GoogleTest)

# quillon_add_test(NAME [GUI] SOURCES... LIBS ...) builds one GoogleTest program and registers its
# cases. GUI programs get a main that makes a QApplication and run on the offscreen platform.
function(quillon_add_test name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set(main GTest::gtest_main)
  set(gui_env "")
  if(ARG_GUI)
    set(main quillon_gui_test_main)
    set(gui_env ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
  target_link_libraries(${name} PRIVATE quillon_common ${ARG_LIBS} GTest::gtest ${main})
  # Every test reaches the header-only helpers under tests/support.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    QUILLON_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120 LABELS ${name} ${gui_env})
endfunction()

# What the helpers for processes and the fake lyrics service need.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(quillon_test_support INTERFACE)
target_include_directories(quillon_test_support INTERFACE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(quillon_test_support INTERFACE PkgConfig::HTTPLIB Threads::Threads)

# The main of the GUI test programs.
if(QUILLON_BUILD_GUI)
  add_library(quillon_gui_test_main STATIC ${PROJECT_SOURCE_DIR}/tests/support/gui_test_main.cpp)
  target_link_libraries(quillon_gui_test_main PUBLIC quillon_common Qt6::Widgets GTest::gtest)
  target_compile_definitions(quillon_gui_test_main PRIVATE QT_NO_CAST_FROM_ASCII)
endif()
