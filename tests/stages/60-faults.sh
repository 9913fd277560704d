# Robustness of the shipped daemon on the simulated router: injected system
# call faults (strace), careless parents, stop signals at awkward moments and
# a storm of them, memcheck (valgrind), and a short soak with sped-up clocks.
set -euo pipefail
source tests/lib.sh
need_build_packages
need_packages libfuse3-dev fuse3 libfaketime faketime pkg-config strace valgrind procps

cmake --preset default >/dev/null
cmake --build --preset default
# Everything these tests need is installed above: a skip here is a failure.
run_tests_no_skips build/default/faults-tests.log --preset faults

# 15 simulated minutes at x10; tests/soak/run without --short soaks for 6 hours.
tests/soak/run --short --build build/default
