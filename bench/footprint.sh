#!/usr/bin/env bash
# Footprint of the release daemon on each target: stripped file size, the
# shared libraries it needs, the glibc symbol versions it requires (the newest
# of them is the oldest glibc it runs on) and the kernel its C library asks
# for; for the static musl builds, whether they name a program interpreter.
# Builds the daemon alone (no tests, no tools) in build/footprint/TARGET.
# Usage: bench/footprint.sh [TARGET]...   (default: all seven)
#   glibc, dynamic: x86-64 armhf arm64
#   musl, static:   x86-64-static armhf-static armel-static arm64-static
# Exit status 1 if a target is over its size budget.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/targets.sh
# Stripped size budgets in bytes; targets without one are reported only.
declare -A budget=([x86-64]=16384 [armhf]=12288 [armhf-static]=49152 [arm64-static]=65536)

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
  readelf --dyn-syms -W "$1" | { grep -oE '[^ ]+@GLIBC_[0-9.]+' || true; } | sed 's/@GLIBC_/ /' | sort -u
}

newest_version() { sort -V | tail -n 1; }

kernel_floor() { readelf -nW "$1" | sed -n 's/.*OS: Linux, ABI: \([0-9.]*\).*/\1/p'; }

interpreter() {
  local path
  path=$(readelf -lW "$1" | sed -n 's/.*Requesting program interpreter: \(.*\)\]/\1/p')
  echo "${path:-none}"
}

exports_got_signal() {
  readelf --dyn-syms -W "$1" | grep -qE 'OBJECT +GLOBAL +DEFAULT +[0-9]+ got_signal$' && echo yes || echo no
}

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
  local library=glibc oldest_glibc="$oldest ($set_by)" kernel
  kernel=$(kernel_floor "$stripped")
  if [[ $target == *-static ]]; then
    library="musl, static"
    versions=- oldest_glibc=- own_calls=- kernel=${kernel:--}
  fi
  printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "${target%-static}" \
    "$library" "$size" "$(needed_libraries "$stripped" | sed 's/^$/none/')" "$(interpreter "$stripped")" \
    "$(exports_got_signal "$stripped")" "$versions" "$oldest_glibc" "$own_calls" "$kernel"
}

targets=("$@")
[[ ${#targets[@]} -eq 0 ]] &&
  targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
  if [[ ! -v "toolchain[$target]" ]]; then
    echo "footprint: unknown target $target (${!toolchain[*]})" >&2
    exit 2
  fi
  build_daemon "$target"
done

echo "Release daemon (MinSizeRel), stripped; glibc versions from the binary's symbol imports."
echo "The static builds carry no glibc versions and no kernel note: see README, Installing on a router."
echo "| target | C library | stripped bytes | NEEDED | interpreter | got_signal exported |" \
  "GLIBC versions | oldest glibc (set by) | own calls need | kernel >= |"
echo "|---|---|---|---|---|---|---|---|---|---|"
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
