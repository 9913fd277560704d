# Sourced by the bench scripts that build a release program for every target:
# the packages those builds need, each target's toolchain file and strip tool.
#   glibc, dynamic: x86-64 armhf arm64
#   musl, static:   x86-64-static armhf-static armel-static arm64-static
source tests/lib.sh
need_build_packages
need_packages binutils g++-arm-linux-gnueabihf g++-aarch64-linux-gnu g++-arm-linux-gnueabi
need_foreign_architecture armhf armel arm64
need_packages musl-dev musl-dev:armhf musl-dev:armel musl-dev:arm64

all_targets=(x86-64 armhf arm64 x86-64-static armhf-static armel-static arm64-static)
declare -A toolchain=(
  [x86-64]=""
  [armhf]=cmake/toolchains/arm-linux-gnueabihf.cmake
  [arm64]=cmake/toolchains/aarch64-linux-gnu.cmake
  [x86-64-static]=cmake/toolchains/musl-x86-64.cmake
  [armhf-static]=cmake/toolchains/musl-armhf.cmake
  [armel-static]=cmake/toolchains/musl-armel.cmake
  [arm64-static]=cmake/toolchains/musl-arm64.cmake)
declare -A strip_tool=([x86-64]=strip [armhf]=arm-linux-gnueabihf-strip [arm64]=aarch64-linux-gnu-strip
  [x86-64-static]=strip [armhf-static]=arm-linux-gnueabihf-strip
  [armel-static]=arm-linux-gnueabi-strip [arm64-static]=aarch64-linux-gnu-strip)
