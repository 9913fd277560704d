# Release build, the shipped daemon, its unit tests; and the plain build a
# user or a distribution makes.
set -euo pipefail
source tests/lib.sh
cmake --workflow --preset default

# Without the presets warnings are not errors (DORMIX_WERROR is off), but a
# plain Release build must still have none.
cmake -S . -B build/plain-release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/plain-release -j "$(nproc)" 2>&1 | tee build/plain-release/build.log
if grep -q 'warning:' build/plain-release/build.log; then
  echo "the plain Release build has warnings (build/plain-release/build.log)" >&2
  exit 1
fi
