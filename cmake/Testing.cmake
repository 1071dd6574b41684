# GoogleTest comes from the distribution: the native tree links the installed
# libraries, the cross trees build the installed sources with the cross
# compiler.
include(CTest)

if(CMAKE_CROSSCOMPILING)
  set(QZ410_WINE_PREFIX "${CMAKE_BINARY_DIR}/../wineprefix" CACHE PATH
      "Wine prefix the tests run in; made on first use")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_SOURCE_DIR}/tools/wine-run.sh;--prefix;${QZ410_WINE_PREFIX}")
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # The win32 thread model has no std::mutex; GoogleTest gets its one
  # synchronisation helper on a Win32 event instead.
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC -include ${CMAKE_CURRENT_LIST_DIR}/GTestWin32Notification.h)
else()
  find_package(GTest REQUIRED)
  find_package(benchmark QUIET)
endif()

# Test names carry the tree's name, so that one CTest run over all trees
# (tools/test.sh) tells which build failed.
set(QZ410_TREE "" CACHE STRING "Name of this build tree, prefixed to its test names")
if(QZ410_TREE)
  set(QZ410_TEST_PREFIX "${QZ410_TREE}.")
else()
  set(QZ410_TEST_PREFIX "")
endif()

# qz410_add_test(<name> SOURCES ... [LIBS ...] [ARGS ...])
# One executable, registered as one CTest test: every Wine start costs
# seconds, so each program holds many cases.
function(qz410_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  endif()
  # A program that tools/wine-run.sh cannot start (no 32-bit Wine here)
  # fails with the reason: a test that did not run is not a test passed.
  add_test(NAME ${QZ410_TEST_PREFIX}${name} COMMAND ${name} ${T_ARGS})
endfunction()
