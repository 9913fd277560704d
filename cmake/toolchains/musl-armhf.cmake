# Static 32-bit ARM build (ARMv7, hard float, Thumb-2) against musl
# (Debian: g++-arm-linux-gnueabihf, musl-dev:armhf).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(DORMIX_GNU_TRIPLET arm-linux-gnueabihf)
set(musl_triplet arm-linux-musleabihf)
set(musl_loader /lib/ld-musl-armhf.so.1)
set(DORMIX_TARGET_FLAGS -mthumb)
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
