# End to end: the shipped binary on the simulated router, one test per scenario.
set -euo pipefail
source tests/lib.sh
need_build_packages
need_packages libfuse3-dev fuse3 libfaketime faketime pkg-config python3
cmake --preset default
cmake --build --preset default
# Everything the simulator needs is installed above: a skip here is a failure.
run_tests_no_skips build/default/e2e-tests.log --preset e2e
