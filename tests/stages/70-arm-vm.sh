# ARM test guest: the armhf unit tests and every simulator scenario, against
# the armhf glibc daemon (and the static one when its preset exists), run
# natively on an emulated ARMv7 machine (qemu-system-arm, TCG) that boots
# Debian's armhf kernel from a small initramfs. Unlike qemu-user, its kernel
# answers the GPIO requests through FUSE, and the wall-clock scenarios set the
# guest's own clock (dormix-sim --guest-clock) instead of libfaketime.
set -euo pipefail
source tests/lib.sh
# libfuse3-dev:armhf for the armhf simulator comes from multiarch; the
# guest's packages are fetched from the armhf lists.
need_foreign_architecture armhf
need_packages g++-arm-linux-gnueabihf libc6-dev-armhf-cross googletest qemu-system-arm cpio \
  pkg-config libfuse3-dev:armhf

cmake --preset armhf >/dev/null
cmake --build --preset armhf
daemons=(glibc=build/armhf/dormix)
if cmake --list-presets 2>/dev/null | grep -q '"armhf-static"'; then
  need_packages musl-dev:armhf
  cmake --preset armhf-static >/dev/null
  cmake --build --preset armhf-static
  daemons+=(static=build/armhf-static/dormix)
fi
tests/armvm/run.sh "${DORMIX_ARM_VM_CACHE:-/var/cache/dormix-arm-vm}" build/armhf "${daemons[@]}"
