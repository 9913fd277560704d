# Test guests (tests/armvm): every shipped daemon that this machine cannot
# run with the simulator's faked clock runs every simulator scenario
# natively on an emulated machine that boots Debian's kernel from a small
# initramfs. ARMv7 (qemu-system-arm) runs the armhf glibc daemon and the
# armhf and armel static ones (ARMv7 runs armel's ARMv5TE code); AArch64
# (qemu-system-aarch64) the arm64 glibc and static ones; x86-64
# (qemu-system-x86_64) the x86-64 static one, which ignores the faked
# clock's LD_PRELOAD. Each guest also runs its glibc build's unit test
# programs and the checks of tests/armvm/checks/ against its static
# dormix-check, among them the GPIO driver's (kernel/dormix_gpio), built
# for each guest's kernel. Unlike qemu-user, a guest's kernel answers the
# simulator's GPIO requests through FUSE, and the wall-clock scenarios set
# the guest's own clock (dormix-sim --guest-clock).
set -euo pipefail
source tests/lib.sh
# The guests' packages are fetched from the armhf, arm64 and amd64 lists.
need_foreign_architecture armhf armel arm64
need_packages g++-arm-linux-gnueabihf g++-arm-linux-gnueabi g++-aarch64-linux-gnu \
  libc6-dev-armhf-cross libc6-dev-arm64-cross googletest musl-dev musl-tools musl-dev:armhf \
  musl-dev:armel musl-dev:arm64 qemu-system-arm qemu-system-x86 cpio pkg-config fuse3 \
  libfuse3-dev libelf1

# libfuse3 of each ARM architecture for its simulator, unpacked beside the
# build rather than installed (tests/lib.sh unpack_packages).
for arch in armhf arm64; do
  unpack_packages "build/target-libs/$arch" "libfuse3-dev:$arch" "libfuse3-3:$arch"
  cmake --preset "$arch" -DDORMIX_TARGET_LIBS="$PWD/build/target-libs/$arch/root" >/dev/null
  cmake --build --preset "$arch" -j2
done
for preset in default x86-64-static armhf-static armel-static arm64-static; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
done

cache=${DORMIX_ARM_VM_CACHE:-/var/cache/dormix-arm-vm}
# The GPIO driver and the test lines it reads in the guests, built against
# each guest's own kernel.
tests/armvm/modules.sh "$cache" armhf build/armhf/modules
tests/armvm/modules.sh "$cache" arm64 build/arm64/modules
tests/armvm/modules.sh "$cache" amd64 build/default/modules

# The guests run at the same time: most of their time is spent waiting on
# the scenarios' timelines. Each one's report follows when all are done.
guests=()
run_guest() { # ARCH BUILD_DIR STATIC_BUILD_DIR DAEMON_NAME=PATH...
  tests/armvm/run.sh "$cache" "$1" "$2" "$3/tools/check/dormix-check" "${@:4}" \
    >"$2/$1-vm.log" 2>&1 &
  guests+=("$!")
}
run_guest armhf build/armhf build/armhf-static glibc=build/armhf/dormix \
  armhf-static=build/armhf-static/dormix armel-static=build/armel-static/dormix
run_guest arm64 build/arm64 build/arm64-static glibc=build/arm64/dormix \
  arm64-static=build/arm64-static/dormix
run_guest amd64 build/default build/x86-64-static x86-64-static=build/x86-64-static/dormix
passed=1
for guest in "${guests[@]}"; do wait "$guest" || passed=0; done
cat build/armhf/armhf-vm.log build/arm64/arm64-vm.log build/default/amd64-vm.log
((passed))
