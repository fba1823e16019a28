# GoogleTest for a cross build, compiled from Debian's sources (googletest)
# with the cross compiler. Its project names the targets as find_package(GTest)
# does (GTest::gtest, GTest::gtest_main).
set(PELMORA_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${PELMORA_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
