#!/usr/bin/env bash
# Footprint of the release daemon on each target: stripped file size, the
# shared libraries it needs, the glibc symbol versions it requires (the newest
# of them is the oldest glibc it runs on) and the kernel its C library asks
# for. Builds the daemon alone (no tests, no tools) in build/footprint/TARGET.
# Usage: bench/footprint.sh [x86-64|armhf|arm64]...   (default: all three)
# Exit status 1 if a target is over its size budget.
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/lib.sh
need_build_packages
need_packages binutils g++-arm-linux-gnueabihf g++-aarch64-linux-gnu

declare -A toolchain=(
  [x86-64]=""
  [armhf]=cmake/toolchains/arm-linux-gnueabihf.cmake
  [arm64]=cmake/toolchains/aarch64-linux-gnu.cmake)
declare -A strip_tool=([x86-64]=strip [armhf]=arm-linux-gnueabihf-strip [arm64]=aarch64-linux-gnu-strip)
# Stripped size budgets in bytes; targets without one are reported only.
declare -A budget=([armhf]=12288)

build_daemon() {
  local target=$1
  local dir=build/footprint/$target
  local configure=(-S . -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel -DDORMIX_TESTS=OFF -DDORMIX_TOOLS=OFF)
  [[ -n ${toolchain[$target]} ]] && configure+=("-DCMAKE_TOOLCHAIN_FILE=$PWD/${toolchain[$target]}")
  mkdir -p build/footprint
  if ! { cmake "${configure[@]}" && cmake --build "$dir" --target dormix -j 2; } >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    echo "footprint: building the daemon for $target failed" >&2
    return 1
  fi
}

needed_libraries() { readelf -dW "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd' ' -; }

# "symbol version" pairs of every versioned glibc symbol the binary imports.
glibc_imports() {
  readelf --dyn-syms -W "$1" | grep -oE '[^ ]+@GLIBC_[0-9.]+' | sed 's/@GLIBC_/ /' | sort -u
}

newest_version() { sort -V | tail -n 1; }

kernel_floor() { readelf -nW "$1" | sed -n 's/.*OS: Linux, ABI: \([0-9.]*\).*/\1/p'; }

report_target() {
  local target=$1
  local binary=build/footprint/$target/dormix
  local stripped=build/footprint/$target/dormix.stripped
  "${strip_tool[$target]}" -o "$stripped" "$binary"
  local size imports versions oldest set_by own_calls
  size=$(stat -c %s "$stripped")
  imports=$(glibc_imports "$stripped")
  versions=$(cut -d' ' -f2 <<<"$imports" | sort -uV | paste -sd' ' -)
  oldest=$(cut -d' ' -f2 <<<"$imports" | newest_version)
  set_by=$(awk -v v="$oldest" '$2 == v { print $1 }' <<<"$imports" | paste -sd',' -)
  # The C start-up files linked in come with the build's glibc; the daemon's
  # own calls are what a build against an older glibc would still need.
  own_calls=$(awk '$1 != "__libc_start_main" { print $2 }' <<<"$imports" | newest_version)
  printf '| %s | %s | %s | %s | %s (%s) | %s | %s |\n' "$target" "$size" \
    "$(needed_libraries "$stripped")" "$versions" "$oldest" "$set_by" "$own_calls" \
    "$(kernel_floor "$stripped")"
}

targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(x86-64 armhf arm64)
for target in "${targets[@]}"; do
  if [[ ! -v "toolchain[$target]" ]]; then
    echo "footprint: unknown target $target (x86-64, armhf, arm64)" >&2
    exit 2
  fi
  build_daemon "$target"
done

echo "Release daemon (MinSizeRel), stripped; glibc versions from the binary's symbol imports."
echo "| target | stripped bytes | NEEDED | GLIBC versions | oldest glibc (set by) | own calls need | kernel >= |"
echo "|---|---|---|---|---|---|---|"
for target in "${targets[@]}"; do report_target "$target"; done

over_budget=0
for target in "${targets[@]}"; do
  [[ -v "budget[$target]" ]] || continue
  size=$(stat -c %s "build/footprint/$target/dormix.stripped")
  verdict=ok
  if ((size > budget[$target])); then
    verdict=OVER
    over_budget=1
  fi
  echo "$target budget: $size of ${budget[$target]} bytes: $verdict"
done
exit "$over_budget"
