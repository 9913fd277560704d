# Cross build for 32-bit ARM routers (hard-float EABI) with Debian's
# g++-arm-linux-gnueabihf; programs built here run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(DORMIX_TARGET_SYSROOT /usr/arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Headers, libraries and packages come from the target's tree only, so that a
# host library (GoogleTest in particular) can never be linked by mistake.
set(CMAKE_FIND_ROOT_PATH ${DORMIX_TARGET_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs target programs (the unit tests, test discovery) through this.
# The library path keeps the C library next to the sysroot's loader: with
# multiarch libc6:armhf installed (libfuse3-dev:armhf brings it), the loader
# would otherwise find that one first in /lib/arm-linux-gnueabihf, and a
# loader and C library of different builds crash every forked child.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${DORMIX_TARGET_SYSROOT}
    -E LD_LIBRARY_PATH=${DORMIX_TARGET_SYSROOT}/lib)
