# GoogleTest for the target when cross compiling: the host's libgtest cannot
# be linked into an ARM program, so build it from Debian's googletest sources.
# Defines the same targets as find_package(GTest): GTest::gtest,
# GTest::gtest_main, GTest::gmock and GTest::gmock_main.
set(DORMIX_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources built for the target when cross compiling")
if(NOT EXISTS ${DORMIX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${DORMIX_GOOGLETEST_SOURCE_DIR} "
                      "(Debian package googletest)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# GoogleTest carries its own warning flags; the project's -Werror set must not
# turn a third-party warning into a failed build.
get_directory_property(dormix_saved_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${DORMIX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${dormix_saved_compile_options}")
unset(dormix_saved_compile_options)
