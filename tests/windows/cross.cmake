# The tests of the cross-built Windows core (cmake/mingw-w64-x86_64.cmake).
#
# GoogleTest: Debian's sources (package googletest), built with the same
# cross compiler. Running: every test program goes through wine-run.sh,
# which runs it under wine with a prefix in the build tree and starts
# tarvo-lines, the native server of the serial lines the tests use (COM
# ports that are pseudo-terminals, with tarvo-board on the far end when a
# test asks for the board). tarvo-lines and tarvo-board are built natively:
# TARVO_NATIVE_BIN_DIR says where (scripts/windows-check.sh does both).
set(TARVO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(TARVO_NATIVE_BIN_DIR "" CACHE PATH "tarvo-board and tarvo-lines built for this machine")
if(NOT EXISTS ${TARVO_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "no GoogleTest sources in ${TARVO_GTEST_SOURCE_DIR} "
                      "(Debian: apt-get install googletest)")
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
# Win32 threads inside GoogleTest: its pthread support does not build
# against mingw's winpthreads.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${TARVO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
    --prefix=${CMAKE_BINARY_DIR}/wineprefix
    --native=${TARVO_NATIVE_BIN_DIR})
# Test programs outside tests/ (the fuzz corpus replays) run the same way.
set_property(GLOBAL PROPERTY TARVO_TEST_EMULATOR ${CMAKE_CROSSCOMPILING_EMULATOR})
# The test lists are read when ctest runs, not at build time: the build then
# needs no wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
