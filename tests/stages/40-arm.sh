# ARM routers: release builds for armhf and arm64 with their unit tests run on
# the emulated CPU (qemu-user). The daemons run the simulated router's
# scenarios in the test guests (70-arm-vm), which qemu-user cannot match:
# it fails the GPIO driver's requests and cannot fake the wall clock.
set -euo pipefail
source tests/lib.sh
# googletest: its sources are built for the target (the host's library is x86-64).
need_packages g++-arm-linux-gnueabihf g++-aarch64-linux-gnu qemu-user \
  libc6-dev-armhf-cross libc6-dev-arm64-cross googletest

cmake --workflow --preset armhf
cmake --workflow --preset arm64
