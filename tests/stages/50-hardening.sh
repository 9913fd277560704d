# Hardening: the unit tests, the fuzz corpus replay and the simulated router's
# scenarios under ASan+UBSan, clang-tidy over the sources of the daemon and
# the checker, and a short run of each fuzz target.
set -euo pipefail
source tests/lib.sh
need_packages clang-14 clang-tidy libclang-rt-14-dev
# The end-to-end scenarios run the sanitized daemon on the simulated router
# (python3 reads the checker's timeline in e2e.check-field).
need_packages libfuse3-dev fuse3 libfaketime faketime pkg-config python3

# The asan test preset selects its tests by label in
# cmake/presets/hardening.json: unit, fuzz-replay and e2e. libfaketime is
# preloaded ahead of the sanitizer runtime in the faked-clock scenarios, which
# the preset's ASAN_OPTIONS allows.
cmake --workflow --preset asan

tests/tidy.sh build/asan

# The targets run two at a time, so this takes about twice FUZZ_SECONDS.
FUZZ_SECONDS=${FUZZ_SECONDS:-20} cmake --workflow --preset fuzz
