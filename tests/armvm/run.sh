#!/usr/bin/env bash
# Boots a test guest of one architecture (armhf: ARMv7 under
# qemu-system-arm; arm64: AArch64 under qemu-system-aarch64; amd64: x86-64
# under qemu-system-x86_64) with a glibc build's simulator and unit test programs, a static dormix-check for the
# checks in tests/armvm/checks/, the kernel modules in BUILD_DIR/modules, and the daemons named; then judges what it
# reports: every check, every unit test program and, for every daemon,
# every scenario must pass, none skipped.
# Usage: tests/armvm/run.sh CACHE_DIR armhf|arm64|amd64 BUILD_DIR CHECKER DAEMON_NAME=PATH...
#   e.g. tests/armvm/run.sh /var/cache/dormix-arm-vm arm64 build/arm64 \
#          build/arm64-static/tools/check/dormix-check glibc=build/arm64/dormix
# Environment: ARMVM_KERNEL (the kernel line, as for tests/armvm/image.sh: 6.1,
# the default, or 6.12; its modules come from BUILD_DIR/modules-6.12),
# ARMVM_UNIT_TESTS (0: the unit test programs stay out), ARMVM_BOOT_TIMEOUT
# (s, default 120), ARMVM_TIMEOUT (s, default 1500), ARMVM_LOG (console log,
# default BUILD_DIR/ARCH-vm-console.log, ARCH-6.12-vm-console.log on 6.12),
# ARMVM_EXTRA (a busybox sh script the guest runs first, its output on the
# console: for looking into a failure or taking measurements in the guest).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
cache_dir=$1
arch=$2
build=$(cd "$3" && pwd)
checker=$4
shift 4
line=${ARMVM_KERNEL:-6.1}
case $line in
  6.1) guest=$arch-vm modules=$build/modules ;;
  6.12) guest=$arch-6.12-vm modules=$build/modules-6.12 ;;
  *) echo "$arch-vm: no kernel line '$line' (6.1, 6.12)" >&2; exit 2 ;;
esac
boot_timeout=${ARMVM_BOOT_TIMEOUT:-120}
run_timeout=${ARMVM_TIMEOUT:-1500}
log=${ARMVM_LOG:-$build/$guest-console.log}
case $arch in
  armhf) machine=(qemu-system-arm -M virt -cpu cortex-a15) console=ttyAMA0 cc=arm-linux-gnueabihf-gcc ;;
  arm64) machine=(qemu-system-aarch64 -M virt -cpu cortex-a53) console=ttyAMA0 cc=aarch64-linux-gnu-gcc ;;
  amd64) machine=(qemu-system-x86_64 -M pc -cpu max) console=ttyS0 cc=gcc ;;
  *) echo "$guest: no guest for this architecture (armhf, arm64, amd64)" >&2; exit 2 ;;
esac
say() { echo "$guest: $*"; }

started=$SECONDS
image_dir=$("$here/image.sh" "$cache_dir" "$arch" "$line")
say "base image $image_dir ($((SECONDS - started)) s)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
payload=$work/payload
mkdir -p "$payload"/dormix/{bin,tests,daemons,scenarios,checks} "$payload/etc"
install -m 755 "$here/init" "$payload/init"
[[ -z ${ARMVM_EXTRA:-} ]] || install -m 755 "$ARMVM_EXTRA" "$payload/dormix/extra.sh"
# A user without root's exemptions, for the unit test of a failing fork.
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n' \
  >"$payload/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$payload/etc/group"
printf 'passwd: files\ngroup: files\n' >"$payload/etc/nsswitch.conf"
install -m 755 "$build/simulator/dormix-sim" "$build/tests/unit/command_probe" \
  "$build/tests/unit/binary_input_probe" "$checker" "$payload/dormix/bin/"
# The init scripts' clock wait: the checker under its second name.
ln -s "$(basename "$checker")" "$payload/dormix/bin/dormix-wait-clock"
# Kernel modules for this guest's kernel: tests/armvm/modules.sh CACHE_DIR ARCH
# BUILD_DIR/modules (6.1), or BUILD_DIR/modules-6.12 6.12.
mkdir -p "$payload/dormix/modules"
cp "$modules"/*.ko "$payload/dormix/modules/"
cp "$source_dir"/simulator/scenarios/*.scn "$payload/dormix/scenarios/"
for script in "$here"/checks/*.sh; do
  if [[ -f $script ]]; then install -m 644 "$script" "$payload/dormix/checks/"; fi
done
# The checks' own helper programs, built static for the guest ($cc above).
for helper in "$here"/checks/*.c; do
  if [[ -f $helper ]]; then "$cc" -static -Os -I "$source_dir" -o "$payload/dormix/checks/$(basename "$helper" .c)" "$helper"; fi
done
# The clock check's NTP client and the hotplug handler that the archives ship.
install -m 755 "$("$here/busybox_ntpd.sh" "$cache_dir" "$arch" "${cc%gcc}")" "$payload/dormix/checks/ntpd"
install -m 644 "$source_dir/packaging/dormix.ntp-hotplug" "$payload/dormix/checks/"
# The board side: the static lpm and status beside the checker.
board=$(dirname "$checker")/../../board
mkdir -p "$payload/dormix/board"
install -m 755 "$board/dormix-lpm" "$board/dormix-status" "$payload/dormix/board/"
programs=(tests/unit/dormix_unit_tests tests/tools/dormix_check_tests simulator/dormix_sim_tests)
[[ ${ARMVM_UNIT_TESTS:-1} != 0 ]] || programs=()
for program in "${programs[@]}"; do
  install -m 755 "$build/$program" "$payload/dormix/tests/"
done
for daemon in "$@"; do
  name=${daemon%%=*}
  mkdir -p "$payload/dormix/daemons/$name"
  install -m 755 "${daemon#*=}" "$payload/dormix/daemons/$name/dormix"
done
(cd "$payload" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) |
  gzip -1 >"$work/payload.cpio.gz"
# The kernel unpacks concatenated archives in order: the payload adds to the base.
cat "$image_dir/base.cpio.gz" "$work/payload.cpio.gz" >"$work/initrd"

say "booting (console log: $log)"
boot_started=$SECONDS
"${machine[@]}" -smp 2 -m 512 -nographic -nic none -no-reboot \
  -kernel "$image_dir/vmlinuz" -initrd "$work/initrd" \
  -qmp "unix:$work/qmp,server=on,wait=off" \
  -append "console=$console quiet panic=-1 dormix.test_guest=1" </dev/null >"$log" 2>&1 &
qemu=$!
# The guest's power button, pressed when the guest asks (power_button.sh);
# in a session of its own, so that its tail ends with it.
setsid "$here/power_button.sh" "$log" "$work/qmp" &
watcher=$!
outcome=""
booted_after=""
while kill -0 "$qemu" 2>/dev/null; do
  sleep 1
  elapsed=$((SECONDS - boot_started))
  if [[ -z $booted_after ]] && grep -q '@@dormix-vm booted' "$log"; then
    booted_after=$elapsed
    say "the guest's init started within $booted_after s of wall time"
  fi
  if [[ -z $booted_after ]] && ((elapsed > boot_timeout)); then
    outcome="the guest did not boot within $boot_timeout s"
  elif ((elapsed > run_timeout)); then
    outcome="the guest did not finish within $run_timeout s"
  fi
  if [[ -n $outcome ]]; then
    kill "$qemu"
    break
  fi
done
wait "$qemu" || true
kill -- "-$watcher" 2>/dev/null || true
say "guest ran $((SECONDS - boot_started)) s"

tr -d '\r' <"$log" >"$work/console"
ARMVM_NAME=$guest "$here/judge.sh" "$work/console" "${programs[*]##*/}" "${@%%=*}" ||
  outcome=${outcome:-"the guest's results do not pass"}
if [[ -n $outcome ]]; then
  # CI keeps only what is printed: the console's end shows a kernel that
  # locked up or a check that stopped, where the judge's lines cannot.
  say "the console's last 40 lines:" >&2
  tail -n 40 "$work/console" | sed 's/^/    /' >&2
  say "FAILED: $outcome (console log: $log)" >&2
  exit 1
fi
say "passed in $((SECONDS - started)) s"
