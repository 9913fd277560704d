# Static x86-64 build against musl (Debian: musl-dev).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(DORMIX_GNU_TRIPLET x86_64-linux-gnu)
set(musl_triplet x86_64-linux-musl)
set(musl_loader /lib/ld-musl-x86_64.so.1)
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
