# Static 32-bit ARM build for older routers: ARMv5TE, soft float, the
# default of Debian's arm-linux-gnueabi compiler (Debian:
# g++-arm-linux-gnueabi, musl-dev:armel).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(DORMIX_GNU_TRIPLET arm-linux-gnueabi)
set(DORMIX_MUSL_TRIPLET arm-linux-musleabi)
set(DORMIX_MUSL_LOADER /lib/ld-musl-arm.so.1)
set(DORMIX_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
