# ARM test guests (tests/armvm): every ARM daemon runs every simulator
# scenario natively on an emulated machine that boots Debian's kernel from a
# small initramfs. ARMv7 (qemu-system-arm) runs the armhf glibc daemon and
# the armhf and armel static ones (ARMv7 runs armel's ARMv5TE code); AArch64
# (qemu-system-aarch64) runs the arm64 glibc and static ones. Each guest also
# runs its glibc build's unit test programs and the checks of
# tests/armvm/checks/ against its static dormix-check. Unlike qemu-user, the
# guest's kernel answers the GPIO requests through FUSE, and the wall-clock
# scenarios set the guest's own clock (dormix-sim --guest-clock).
set -euo pipefail
source tests/lib.sh
# libfuse3-dev of each architecture for its simulator comes from multiarch;
# the guests' packages are fetched from the armhf and arm64 lists.
need_foreign_architecture armhf armel arm64
need_packages g++-arm-linux-gnueabihf g++-arm-linux-gnueabi g++-aarch64-linux-gnu \
  libc6-dev-armhf-cross libc6-dev-arm64-cross googletest musl-dev:armhf musl-dev:armel \
  musl-dev:arm64 qemu-system-arm cpio pkg-config libfuse3-dev:armhf libfuse3-dev:arm64

for preset in armhf arm64 armhf-static armel-static arm64-static; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
done

# The guests run at the same time: most of their time is spent waiting on
# the scenarios' timelines. Each one's report follows when both are done.
cache=${DORMIX_ARM_VM_CACHE:-/var/cache/dormix-arm-vm}
tests/armvm/run.sh "$cache" armhf build/armhf build/armhf-static/tools/check/dormix-check \
  glibc=build/armhf/dormix armhf-static=build/armhf-static/dormix \
  armel-static=build/armel-static/dormix >build/armhf/arm-vm.log 2>&1 &
armv7=$!
tests/armvm/run.sh "$cache" arm64 build/arm64 build/arm64-static/tools/check/dormix-check \
  glibc=build/arm64/dormix arm64-static=build/arm64-static/dormix >build/arm64/arm-vm.log 2>&1 &
aarch64=$!
passed=1
wait "$armv7" || passed=0
wait "$aarch64" || passed=0
cat build/armhf/arm-vm.log build/arm64/arm-vm.log
((passed))
