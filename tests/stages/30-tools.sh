# Operator tooling: the settings checker, man pages and the installed tree.
set -euo pipefail
source tests/lib.sh
need_packages man-db groff-base tzdata python3 dash

cmake --preset default >/dev/null
cmake --build --preset default
# Everything these tests need is installed above: a skip here is a failure.
ctest --preset tools --no-tests=error | tee build/default/tools-tests.log
if grep -q 'Skipped\|Not Run' build/default/tools-tests.log; then
  echo "tools tests were skipped" >&2
  exit 1
fi
