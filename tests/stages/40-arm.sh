# ARM routers: release builds for armhf and arm64 with their unit tests run on
# the emulated CPU (qemu-user), then the simulated router's scenarios against
# the armhf daemon under qemu.
set -euo pipefail
source tests/lib.sh
# googletest: its sources are built for the target (the host's library is x86-64).
need_packages g++-arm-linux-gnueabihf g++-aarch64-linux-gnu qemu-user \
  libc6-dev-armhf-cross libc6-dev-arm64-cross googletest

cmake --workflow --preset armhf
cmake --workflow --preset arm64

# The simulator is a host program (the default preset builds it); only the
# daemon runs emulated. Its fake tools are host shell scripts, which the
# emulated daemon's execvp starts natively.
# Scenarios that need GPIO levels or a faked wall clock are skipped: qemu-user
# does not pass ioctl requests it does not know to the kernel, so the GPIO
# driver's read requests fail with ENOSYS under it and every input reads as
# level 0. The faked clock is a library preloaded into the host's C library,
# which the ARM daemon cannot load.
simulator=build/default/simulator/dormix-sim
if [[ ! -x $simulator ]]; then
  need_packages libfuse3-dev fuse3 pkg-config
  cmake --preset default >/dev/null
  cmake --build --preset default --target dormix-sim
fi
# The library path: see cmake/toolchains/arm-linux-gnueabihf.cmake.
"$simulator" --quiet --daemon build/armhf/dormix \
  --emulator "qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib" \
  --skip-needing faketime,gpio simulator/scenarios/*.scn
