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
#
# Each guest boots twice: on Debian 12's own kernel (6.1) with everything
# above, and on the 6.12 kernel of Debian 12's backports (Debian 13's and
# OpenWrt 25.12's line; tests/lib.sh backports_apt) with the module and
# board checks (dormix_gpio, /dev/gpio, lpm's RTC, input and S3 wakes), the
# clock check, and every scenario for one daemon: armhf static (musl, as an
# OpenWrt ARMv7 router runs it), arm64 glibc (as a Debian board does) and
# x86-64 static. What a new kernel line can break is the kernel side: the
# driver's interfaces, the GPIO, RTC and suspend paths, the system calls
# and timekeeping the daemon and the clock wait use. The other daemons and
# the unit test programs exercise the same calls in user space, so they run
# on 6.1 only, which keeps the stage's time within bounds: the 6.12 guests
# take the 6.1 ones' places as those end, three guests at a time.
set -euo pipefail
source tests/lib.sh
# The guests' packages are fetched from the armhf, arm64 and amd64 lists.
need_foreign_architecture armhf armel arm64
need_packages g++-arm-linux-gnueabihf g++-arm-linux-gnueabi g++-aarch64-linux-gnu \
  libc6-dev-armhf-cross libc6-dev-arm64-cross googletest musl-dev musl-tools musl-dev:armhf \
  musl-dev:armel musl-dev:arm64 qemu-system-arm qemu-system-x86 cpio pkg-config fuse3 \
  libfuse3-dev libelf1 dwarves

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
# each guest's own kernels (6.12's BTF step runs pahole, from dwarves).
for line in 6.1 6.12; do
  suffix=-$line
  [[ $line != 6.1 ]] || suffix=""
  tests/armvm/modules.sh "$cache" armhf "build/armhf/modules$suffix" "$line"
  tests/armvm/modules.sh "$cache" arm64 "build/arm64/modules$suffix" "$line"
  tests/armvm/modules.sh "$cache" amd64 "build/default/modules$suffix" "$line"
done

# Three guests run at a time, as many as the 6.1 ones: most of their time
# is spent waiting on the scenarios' timelines. Each 6.12 guest starts when
# one before it ends, the longest first. Each one's report follows when all
# are done.
queue=(
  "6.1 armhf build/armhf build/armhf-static glibc=build/armhf/dormix armhf-static=build/armhf-static/dormix armel-static=build/armel-static/dormix"
  "6.1 arm64 build/arm64 build/arm64-static glibc=build/arm64/dormix arm64-static=build/arm64-static/dormix"
  "6.1 amd64 build/default build/x86-64-static x86-64-static=build/x86-64-static/dormix"
  "6.12 armhf build/armhf build/armhf-static armhf-static=build/armhf-static/dormix"
  "6.12 arm64 build/arm64 build/arm64-static glibc=build/arm64/dormix"
  "6.12 amd64 build/default build/x86-64-static x86-64-static=build/x86-64-static/dormix"
)
logs=()
running=()
passed=1
# wait_for_guest: waits for one of the running guests to end.
wait_for_guest() {
  local ended="" i
  wait -n -p ended "${running[@]}" || passed=0
  for i in "${!running[@]}"; do [[ ${running[i]} != "$ended" ]] || unset "running[i]"; done
}
for entry in "${queue[@]}"; do
  read -r line arch build static daemons <<<"$entry"
  ((${#running[@]} < 3)) || wait_for_guest
  name=$arch-vm units=1
  [[ $line == 6.1 ]] || name=$arch-$line-vm units=0
  logs+=("$build/$name.log")
  # shellcheck disable=SC2086 # the daemons are words
  ARMVM_KERNEL=$line ARMVM_UNIT_TESTS=$units tests/armvm/run.sh "$cache" "$arch" "$build" \
    "$static/tools/check/dormix-check" $daemons >"$build/$name.log" 2>&1 &
  running+=("$!")
done
while ((${#running[@]} > 0)); do wait_for_guest; done
cat "${logs[@]}"
((passed))
