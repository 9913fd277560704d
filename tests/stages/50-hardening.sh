# Hardening: the unit tests and the fuzz corpus replay under ASan+UBSan,
# clang-tidy over the daemon's sources, and a short run of each fuzz target.
set -euo pipefail
source tests/lib.sh
need_packages clang-14 clang-tidy libclang-rt-14-dev

# The asan test preset selects its tests by label in
# cmake/presets/hardening.json; the end-to-end scenarios join it there
# (label "e2e") once they exist.
cmake --workflow --preset asan

tests/tidy.sh build/asan

# Both targets run side by side, so this takes about FUZZ_SECONDS.
FUZZ_SECONDS=${FUZZ_SECONDS:-20} cmake --workflow --preset fuzz
