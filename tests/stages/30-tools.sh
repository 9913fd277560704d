# Operator tooling: the settings checker, man pages and the installed tree.
set -euo pipefail
source tests/lib.sh
need_packages man-db groff-base tzdata python3 dash

cmake --preset default >/dev/null
cmake --build --preset default
# Everything these tests need is installed above: a skip here is a failure.
run_tests_no_skips build/default/tools-tests.log --preset tools --no-tests=error
