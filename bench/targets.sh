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

# Builds PROGRAM... (cmake targets whose files lie in SUBDIR of the build)
# for TARGET alone in build/footprint-NAME/TARGET, MinSizeRel, and prints a
# table row of their stripped sizes, each against budget["TARGET PROGRAM"]
# when the caller's associative array budget has one. Sets over=1 when one
# is over it; exits 1 when the build fails.
# Usage: size_row NAME TARGET SUBDIR TOOLS(ON|OFF) PROGRAM...
size_row() {
  local name=$1 target=$2 subdir=$3 tools=$4
  shift 4
  local dir=build/footprint-$name/$target
  local configure=(-S . -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel -DDORMIX_TESTS=OFF
    "-DDORMIX_TOOLS=$tools")
  [[ -n ${toolchain[$target]} ]] && configure+=("-DCMAKE_TOOLCHAIN_FILE=$PWD/${toolchain[$target]}")
  mkdir -p "build/footprint-$name"
  if ! { cmake "${configure[@]}" && cmake --build "$dir" --target "$@" -j 2; } >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    echo "$name: building $* for $target failed" >&2
    exit 1
  fi
  local row="| $target |" program size limit
  for program in "$@"; do
    "${strip_tool[$target]}" -o "$dir/$program.stripped" "$dir/$subdir/$program"
    size=$(stat -c %s "$dir/$program.stripped")
    limit=${budget[$target $program]:-}
    row+=" $size${limit:+ (budget $limit)}"
    if [[ -n $limit && $size -gt $limit ]]; then
      row+=" OVER"
      over=1
    fi
    row+=" |"
  done
  echo "$row"
}
