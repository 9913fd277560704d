# Included by every cross toolchain file after it sets DORMIX_TARGET_SYSROOT
# (the target's headers and libraries) and, where programs built here are
# run by ctest, DORMIX_QEMU (the qemu-user command for the target's CPU).

# Headers, libraries and packages come from the target's tree only, so that a
# host library (GoogleTest in particular) can never be linked by mistake.
# DORMIX_TARGET_LIBS: a tree of the target's packages unpacked, not
# installed (tests/lib.sh unpack_packages), searched after the sysroot.
set(CMAKE_FIND_ROOT_PATH ${DORMIX_TARGET_SYSROOT} ${DORMIX_TARGET_LIBS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs target programs (the unit tests, test discovery) through this.
# The library path keeps the C library next to the sysroot's loader: with
# multiarch libc6 of the same architecture installed (libfuse3-dev:armhf
# brings it), the loader would otherwise find that one first in
# /lib/<triplet>, and a loader and C library of different builds crash
# every forked child.
if(DORMIX_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DORMIX_QEMU} -L ${DORMIX_TARGET_SYSROOT}
      -E LD_LIBRARY_PATH=${DORMIX_TARGET_SYSROOT}/lib)
endif()
