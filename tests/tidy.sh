#!/usr/bin/env bash
# clang-tidy over the sources of the daemon, the settings checker and page with
# the repository's .clang-tidy, using the compile commands of the asan build
# (configure it first: cmake --preset asan). Any finding fails.
# Usage: tests/tidy.sh [BUILD_DIR]   (default build/asan)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)

if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: $build/compile_commands.json missing; run cmake --preset asan first" >&2
  exit 2
fi
mapfile -t sources < <(find daemon settings device datetime analysis tools/check board web -name '*.cc' | sort)
echo "tidy: ${#sources[@]} files with $($tidy --version | grep -o 'version [0-9.]*')"
# g++'s sanitizer flags mean nothing to clang's analysis; the rest is shared.
printf '%s\0' "${sources[@]}" |
  xargs -0 -n 1 -P "$(nproc)" "$tidy" -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option
echo "tidy: clean"
