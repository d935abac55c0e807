if(CMAKE_CROSSCOMPILING AND WIN32)
  # GoogleTest for the target, from the sources Debian's googletest package ships.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# Where the tests find their data: under Wine, the Linux file system is drive Z:.
set(QUILLON_TEST_DATA "${PROJECT_SOURCE_DIR}/tests/data")
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(QUILLON_TEST_DATA "Z:${QUILLON_TEST_DATA}")
endif()

# quillon_add_test(NAME [GUI] SOURCES... LIBS ...) builds one GoogleTest program and registers its
# cases. GUI programs get a main that makes a QApplication and run on the offscreen platform.
# Cross-built for Windows, a program is one test that Wine runs whole.
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
    QUILLON_TEST_DATA_DIR="${QUILLON_TEST_DATA}")
  if(CMAKE_CROSSCOMPILING AND WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120 LABELS ${name}
      ${gui_env})
  endif()
endfunction()

# What the helpers for processes and the lyrics service stand-ins need.
add_library(quillon_test_support INTERFACE)
target_include_directories(quillon_test_support INTERFACE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(quillon_test_support INTERFACE Threads::Threads)
if(WIN32)
  target_link_libraries(quillon_test_support INTERFACE ws2_32)
endif()

# The main of the GUI test programs.
if(QUILLON_BUILD_GUI)
  add_library(quillon_gui_test_main STATIC ${PROJECT_SOURCE_DIR}/tests/support/gui_test_main.cpp)
  target_link_libraries(quillon_gui_test_main PUBLIC quillon_common Qt6::Widgets GTest::gtest)
  target_compile_definitions(quillon_gui_test_main PRIVATE QT_NO_CAST_FROM_ASCII)
endif()
