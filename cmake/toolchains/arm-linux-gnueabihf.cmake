# Cross build for 32-bit ARM routers (hard-float EABI) with Debian's
# g++-arm-linux-gnueabihf; programs built here run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(DORMIX_TARGET_SYSROOT /usr/arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(DORMIX_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/target-tree.cmake)
