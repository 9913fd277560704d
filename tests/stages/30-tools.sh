# Operator tooling: the settings checker, man pages, the installed tree and
# the .deb packages for amd64 and armhf.
set -euo pipefail
source tests/lib.sh
need_packages man-db groff-base tzdata dpkg-dev file python3 dash g++-arm-linux-gnueabihf

cmake --preset default >/dev/null
cmake --build --preset default
# Everything these tests need is installed above: a skip here is a failure.
run_tests_no_skips build/default/tools-tests.log --preset tools --no-tests=error

# The armhf package: the daemon and the checker cross-built and packaged.
cmake --preset package-armhf >/dev/null
cmake --build --preset package-armhf
bash tests/tools/package_test.sh build/package-armhf armhf
