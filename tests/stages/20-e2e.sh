# End to end: the shipped binary on the simulated router, one test per scenario.
set -euo pipefail
source tests/lib.sh
need_build_packages
need_packages libfuse3-dev fuse3 libfaketime faketime pkg-config
cmake --preset default
cmake --build --preset default
# Everything the simulator needs is installed above: a skip here is a failure.
ctest --preset e2e | tee build/default/e2e-tests.log
if grep -q 'Skipped\|Not Run' build/default/e2e-tests.log; then
  echo "end-to-end tests were skipped" >&2
  exit 1
fi
