# Cross build for 64-bit ARM routers with Debian's g++-aarch64-linux-gnu;
# programs built here run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(DORMIX_TARGET_SYSROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The linker's default for arm64 aligns segments to 64 KiB so that one binary
# suits kernels with 4, 16 or 64 KiB pages; that pads the stripped daemon from
# about 19 KB to 68 KB. Router kernels run with 4 KiB pages
# (CONFIG_ARM64_4K_PAGES, the kernel's default), so align to 4 KiB. A kernel
# built with 16 or 64 KiB pages refuses to load such a binary: build with
# -DDORMIX_ARM64_PAGE_SIZE=65536 for one.
set(DORMIX_ARM64_PAGE_SIZE 4096 CACHE STRING "Largest page size of the target kernel")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-z,max-page-size=${DORMIX_ARM64_PAGE_SIZE}")

# Headers, libraries and packages come from the target's tree only, so that a
# host library (GoogleTest in particular) can never be linked by mistake.
set(CMAKE_FIND_ROOT_PATH ${DORMIX_TARGET_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs target programs (the unit tests, test discovery) through this.
# The host's ld.so.cache may list the same architecture's multiarch libraries
# (a foreign-architecture package pulls them in); the cross tree's loader
# must not mix them with its own C library, so its own directory comes first.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${DORMIX_TARGET_SYSROOT}
    -E LD_LIBRARY_PATH=${DORMIX_TARGET_SYSROOT}/lib)
