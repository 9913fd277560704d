# Static 32-bit ARM build for older routers: ARMv5TE, soft float, the
# default of Debian's arm-linux-gnueabi compiler (Debian:
# g++-arm-linux-gnueabi, musl-dev:armel).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(DORMIX_GNU_TRIPLET arm-linux-gnueabi)
set(musl_triplet arm-linux-musleabi)
set(musl_loader /lib/ld-musl-arm.so.1)
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
