# Static builds against musl with Debian's compilers and Debian's musl-dev
# for the target (multiarch). A gcc driver file points g++ at musl's headers,
# start files and libc.a alone, the way Debian's musl-gcc wrapper does for C:
# the daemon and dormix-check need C headers and compiler builtins only. The
# static builds make just these programs; they are tested black box on a
# real kernel (tests/armvm), the unit tests on the glibc builds.
#
# Included by the per-target files, which set musl_triplet (musl-dev's
# directories), musl_loader, DORMIX_GNU_TRIPLET (Debian's cross compiler),
# CMAKE_SYSTEM_PROCESSOR, DORMIX_TARGET_FLAGS and DORMIX_TARGET_LINK_FLAGS.
set(CMAKE_SYSTEM_NAME Linux)
# What the project's files ask to tell a static musl build.
set(DORMIX_STATIC_MUSL ON)

set(DORMIX_MUSL_INCLUDE /usr/include/${musl_triplet})
set(DORMIX_MUSL_LIB /usr/lib/${musl_triplet})
set(DORMIX_MUSL_LOADER ${musl_loader})
if(NOT EXISTS ${DORMIX_MUSL_LIB}/libc.a)
  message(FATAL_ERROR "musl for ${musl_triplet} not found in ${DORMIX_MUSL_LIB} "
                      "(Debian package musl-dev for the target's architecture)")
endif()

set(CMAKE_CXX_COMPILER ${DORMIX_GNU_TRIPLET}-g++)
set(DORMIX_MUSL_DRIVER ${CMAKE_BINARY_DIR}/musl-${musl_triplet}-gcc.driver)
configure_file(${CMAKE_CURRENT_LIST_DIR}/../musl/gcc-driver.in ${DORMIX_MUSL_DRIVER} @ONLY)

# static-pie: one executable for any firmware, which still keeps a dynamic
# symbol table for the exported got_signal.
set(CMAKE_CXX_FLAGS_INIT "-specs=${DORMIX_MUSL_DRIVER} -fPIE ${DORMIX_TARGET_FLAGS}")
# No RELRO: musl's static-pie start code applies its relocations but never
# write-protects the RELRO range, so the flag protects nothing, while
# page-aligning its end pads the file by up to a page.
# A common page of 8 bytes: whenever starting the data on a page of its own
# would save one page of memory at the end of .bss, ld pads the file up to
# that page boundary, up to 4 KiB more (the zone code's 644 bytes of .bss
# tipped the armhf daemon over; the arm64 one paid 3.6 KB). A router's flash
# is scarcer than that page. Without RELRO, the common page size decides only
# this; segments stay aligned to max-page-size, as the kernel needs.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static-pie -Wl,-z,norelro -Wl,-z,common-page-size=8 ${DORMIX_TARGET_LINK_FLAGS}")

set(DORMIX_TARGET_SYSROOT ${DORMIX_MUSL_LIB})
include(${CMAKE_CURRENT_LIST_DIR}/target-tree.cmake)
