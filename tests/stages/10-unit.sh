# Release build, the shipped daemon, its unit tests.
set -euo pipefail
source tests/lib.sh
cmake --workflow --preset default
