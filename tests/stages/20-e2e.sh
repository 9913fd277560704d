# End to end: the shipped binary on the simulated router, one test per scenario.
set -euo pipefail
source tests/lib.sh
need_build_packages
need_packages libfuse3-dev fuse3 libfaketime faketime pkg-config
cmake --preset default
cmake --build --preset default
ctest --preset e2e
