#!/usr/bin/env bash
# Boots the ARM test guest under qemu-system-arm with this build's armhf
# programs and judges what it reports: every unit test executable must pass,
# and every scenario must pass for every daemon, none skipped.
# Usage: tests/armvm/run.sh CACHE_DIR ARMHF_BUILD_DIR DAEMON_NAME=PATH...
#   e.g. tests/armvm/run.sh /var/cache/dormix-arm-vm build/armhf glibc=build/armhf/dormix
# Environment: ARMVM_BOOT_TIMEOUT (s, default 120), ARMVM_TIMEOUT (s, default 1500),
# ARMVM_LOG (console log, default BUILD_DIR/arm-vm-console.log), ARMVM_EXTRA
# (a busybox sh script the guest runs first, its output on the console: for
# looking into a failure or taking measurements in the guest).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
cache_dir=$1
build=$(cd "$2" && pwd)
shift 2
boot_timeout=${ARMVM_BOOT_TIMEOUT:-120}
run_timeout=${ARMVM_TIMEOUT:-1500}
log=${ARMVM_LOG:-$build/arm-vm-console.log}

started=$SECONDS
image_dir=$("$here/image.sh" "$cache_dir")
echo "arm-vm: base image $image_dir ($((SECONDS - started)) s)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
payload=$work/payload
mkdir -p "$payload/dormix/tests" "$payload/dormix/daemons" "$payload/dormix/scenarios"
install -m 755 "$here/init" "$payload/init"
[[ -z ${ARMVM_EXTRA:-} ]] || install -m 755 "$ARMVM_EXTRA" "$payload/dormix/extra.sh"
# A user without root's exemptions, for the unit test of a failing fork.
mkdir -p "$payload/etc"
printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n' \
  >"$payload/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$payload/etc/group"
printf 'passwd: files\ngroup: files\n' >"$payload/etc/nsswitch.conf"
install -m 755 "$build/simulator/dormix-sim" "$payload/dormix/dormix-sim"
cp "$source_dir"/simulator/scenarios/*.scn "$payload/dormix/scenarios/"
for test in tests/unit/dormix_unit_tests tests/tools/dormix_check_tests simulator/dormix_sim_tests; do
  install -m 755 "$build/$test" "$payload/dormix/tests/"
done
# The unit tests start the command probe by the path they were built with
# (under qemu-user a script that starts it emulated); in the guest the
# probe itself is put at that path by the init, after its mounts, since the
# path may lie under /tmp.
probe_path=$(grep -aoE "/[A-Za-z0-9_./-]*/command_probe(\.emulated)?" "$build/tests/unit/dormix_unit_tests" | head -n1)
[[ -n $probe_path ]] || { echo "arm-vm: no command probe path in the unit tests" >&2; exit 1; }
install -m 755 "$build/tests/unit/command_probe" "$payload/dormix/command_probe"
printf '%s\n' "$probe_path" >"$payload/dormix/command_probe_path"
# Checks of single programs in the guest (checks/*.sh, each reporting
# "check NAME pass|fail"), with their helpers and the static dormix-check.
mkdir -p "$payload/dormix/checks"
install -m 755 "$here"/checks/*.sh "$source_dir/build/armhf-static/tools/check/dormix-check" "$payload/dormix/checks/"
for helper in "$here"/checks/*.c; do
  arm-linux-gnueabihf-gcc -static -Os -o "$payload/dormix/checks/$(basename "$helper" .c)" "$helper"
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

echo "arm-vm: booting (console log: $log)"
boot_started=$SECONDS
qemu-system-arm -M virt -cpu cortex-a15 -smp 2 -m 512 -nographic -nic none -no-reboot \
  -kernel "$image_dir/vmlinuz" -initrd "$work/initrd" \
  -append "console=ttyAMA0 quiet panic=-1 dormix.test_guest=1" </dev/null >"$log" 2>&1 &
qemu=$!
outcome=""
booted_after=""
while kill -0 "$qemu" 2>/dev/null; do
  sleep 1
  elapsed=$((SECONDS - boot_started))
  if [[ -z $booted_after ]] && grep -q '^@@dormix-vm booted' "$log"; then
    booted_after=$elapsed
    echo "arm-vm: the guest's init started within $booted_after s of wall time"
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
echo "arm-vm: guest ran $((SECONDS - boot_started)) s"

tr -d '\r' <"$log" >"$work/console"
"$here/judge.sh" "$work/console" "$(find "$source_dir/simulator/scenarios" -name "*.scn" | wc -l)" \
  "${@%%=*}" || outcome=${outcome:-"the guest's results do not pass"}
if [[ -n $outcome ]]; then
  echo "arm-vm: FAILED: $outcome (console log: $log)" >&2
  exit 1
fi
echo "arm-vm: passed in $((SECONDS - started)) s"
