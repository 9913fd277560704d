# Static 64-bit ARM build against musl (Debian: g++-aarch64-linux-gnu,
# musl-dev:arm64). Segments aligned to 4 KiB pages, as in the glibc arm64
# build (see aarch64-linux-gnu.cmake).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(DORMIX_GNU_TRIPLET aarch64-linux-gnu)
set(musl_triplet aarch64-linux-musl)
set(musl_loader /lib/ld-musl-aarch64.so.1)
set(DORMIX_ARM64_PAGE_SIZE 4096 CACHE STRING "Largest page size of the target kernel")
set(DORMIX_TARGET_LINK_FLAGS "-Wl,-z,max-page-size=${DORMIX_ARM64_PAGE_SIZE}")
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
