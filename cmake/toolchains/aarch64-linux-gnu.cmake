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

set(DORMIX_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/target-tree.cmake)
