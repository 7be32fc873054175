# GoogleTest and GoogleMock built from Debian's sources (package googletest)
# with the build's own compiler, for targets that have no prebuilt copy (the
# Windows build). Gives the same GTest::gtest, GTest::gmock, GTest::gtest_main
# and GTest::gmock_main targets as find_package(GTest) does on Linux.
set(QUARRIN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build")
if(NOT EXISTS ${QUARRIN_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${QUARRIN_GOOGLETEST_SOURCE}: install the googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${QUARRIN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
