# Static builds against musl with Debian's compilers and Debian's musl-dev
# for the target (multiarch). A gcc driver file points g++ at musl's headers,
# start files and libc.a, the way Debian's musl-gcc wrapper does for C, and
# keeps libstdc++'s headers in front for the C++ wrappers (<cstdio> and
# the like) that include musl's headers in turn.
#
# Included by the per-target files, which set DORMIX_GNU_TRIPLET (Debian's
# cross compiler), DORMIX_MUSL_TRIPLET (musl-dev's directories),
# DORMIX_MUSL_LOADER, CMAKE_SYSTEM_PROCESSOR and DORMIX_TARGET_FLAGS.
set(CMAKE_SYSTEM_NAME Linux)

set(DORMIX_MUSL_INCLUDE /usr/include/${DORMIX_MUSL_TRIPLET})
set(DORMIX_MUSL_LIB /usr/lib/${DORMIX_MUSL_TRIPLET})
if(NOT EXISTS ${DORMIX_MUSL_LIB}/libc.a)
  message(FATAL_ERROR "musl for ${DORMIX_MUSL_TRIPLET} not found in ${DORMIX_MUSL_LIB} "
                      "(Debian package musl-dev for the target's architecture)")
endif()

set(CMAKE_C_COMPILER ${DORMIX_GNU_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${DORMIX_GNU_TRIPLET}-g++)

# libstdc++'s own include directories, as the compiler reports them.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -E -x c++ -v /dev/null
                OUTPUT_QUIET ERROR_VARIABLE dormix_compiler_report)
string(REPLACE "\n" ";" dormix_compiler_report "${dormix_compiler_report}")
set(DORMIX_MUSL_CXX_OPTIONS "")
foreach(line IN LISTS dormix_compiler_report)
  if(line MATCHES "^ (.*/c\\+\\+/[0-9]+.*)$")
    file(REAL_PATH "${CMAKE_MATCH_1}" dormix_dir)
    string(APPEND DORMIX_MUSL_CXX_OPTIONS "-isystem ${dormix_dir} ")
  endif()
endforeach()
if(DORMIX_MUSL_CXX_OPTIONS STREQUAL "")
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} reports no libstdc++ include directory")
endif()
# libstdc++'s headers were configured for glibc and test its version with
# __GLIBC_PREREQ, which musl lacks; answering "recent" selects what musl
# provides as well (pthread_self, pthreads in libc, no obsolete isinf).
string(APPEND DORMIX_MUSL_CXX_OPTIONS "-D__GLIBC_PREREQ(major,minor)=1")

# One driver file for C++ and one without libstdc++'s directories for C
# (GoogleTest's project enables C).
set(DORMIX_MUSL_DRIVER ${CMAKE_BINARY_DIR}/musl-${DORMIX_MUSL_TRIPLET}-g++.driver)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../musl/gcc-driver.in ${DORMIX_MUSL_DRIVER} @ONLY)
set(DORMIX_MUSL_C_DRIVER ${CMAKE_BINARY_DIR}/musl-${DORMIX_MUSL_TRIPLET}-gcc.driver)
set(DORMIX_MUSL_CXX_OPTIONS "")
configure_file(${CMAKE_CURRENT_LIST_DIR}/../musl/gcc-driver.in ${DORMIX_MUSL_C_DRIVER} @ONLY)

# static-pie: one executable for any firmware, which still keeps a dynamic
# symbol table for the exported got_signal.
set(CMAKE_CXX_FLAGS_INIT "-specs=${DORMIX_MUSL_DRIVER} -fPIE ${DORMIX_TARGET_FLAGS}")
set(CMAKE_C_FLAGS_INIT "-specs=${DORMIX_MUSL_C_DRIVER} -fPIE ${DORMIX_TARGET_FLAGS}")
# No RELRO: musl's static-pie start code applies its relocations but never
# write-protects the RELRO range, so the flag protects nothing, while
# page-aligning its end pads the file by up to a page.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-pie -Wl,-z,norelro ${DORMIX_TARGET_LINK_FLAGS}")

# libstdc++.a (for the tests and GoogleTest) was built against glibc; the
# tests link a small adapter for the few glibc interfaces it calls.
set(DORMIX_LIBSTDCXX_ON_MUSL ON)

set(CMAKE_FIND_ROOT_PATH ${DORMIX_MUSL_LIB})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static programs need no -L: ctest runs the ARM ones through qemu-user as
# they are; x86-64 ones run natively.
if(DORMIX_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DORMIX_QEMU})
endif()
