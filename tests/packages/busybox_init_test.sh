#!/usr/bin/env bash
# The release archive's sysvinit script run for real where busybox is all
# there is: a throwaway root holding only Debian's busybox-static (from its
# .deb, unpacked) with its applet links, the archive's /opt/dormix tree (static daemon and checker)
# and the script in /etc/init.d, run with PATH limited to the busybox
# applets it may use. The module switch, the wait for a synchronised clock
# and a stop during it, start/stop/restart/reload/status with the LSB exit
# codes, judged by the processes, the pid file and the system log. The root
# starts without /var/run, as busybox firmware with a bare /var tmpfs does.
# Usage: busybox_init_test.sh ARCHIVE BUSYBOX_STATIC_DEB SCRATCH_DIR   (as root)
set -uo pipefail
# shellcheck source=tests/packages/throwaway_root.sh
source "$(dirname "$0")/throwaway_root.sh"
enter_namespaces "$0" "$@"
archive=$(realpath "$1")
busybox_deb=$(realpath "$2")
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
# The applets the script calls; the shell runs it. grep and tr read the
# GPIO driver's lines where the board side is installed.
applets=(start-stop-daemon logger mkdir rm sleep grep tr)

scratch=$3
make_busybox_root "$scratch" "$busybox_deb" "$archive" || exit 1
mkdir -p "$root"/{etc/default,applets}
for applet in "${applets[@]}"; do ln -s /bin/busybox "$root/applets/$applet"; done
install -m 755 "$root/opt/dormix/init/sysvinit/dormix" "$root/etc/init.d/dormix"

# init ACTION: the script as an operator runs it, with busybox's applets only.
init() {
  # shellcheck disable=SC2016 # expanded by the root's shell
  chroot "$root" /bin/busybox env -i PATH=/applets /bin/sh -c '/etc/init.d/dormix "$1"' sh "$1" \
    >"$scratch/out" 2>&1
  local status=$?
  cat "$scratch/out" >>"$scratch/init.log"
  grep -q 'not found' "$scratch/out" && fail "$1: $(cat "$scratch/out")"
  return "$status"
}
# expect ACTION STATUS
expect() {
  init "$1"
  local status=$?
  [[ $status -eq $2 ]] || fail "$1 exited $status, not $2: $(cat "$scratch/out")"
  echo "$1: exit $status: $(tr '\n' ' ' <"$scratch/out")"
}
pid_file=/var/run/dormix.pid
process_name() { sed -n 's/^Name:\t//p' "$root/proc/$1/status" 2>/dev/null; }

# The sample leaves the module switched off: nothing starts, the log says so.
expect start 0
[[ -z $(daemon_pids)$(checker_pids) ]] || fail "started while switched off"
wait_for_log 'dormix: not started: switched off: MOD_DORMIX_ENABLED reads 0' ||
  fail "no log line about the switch: $(cat "$syslog")"
expect status 3
grep -q 'disabled' "$scratch/out" || fail "status does not say disabled"
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$settings"
[[ ! -e $root/var/run ]] || fail "the root has a /var/run before the first start"

# The clock: this host's kernel decides whether the start waits.
if chroot "$root" /opt/dormix/sbin/dormix-wait-clock 0 >/dev/null 2>&1; then
  echo "clock: this host's clock is synchronised; the start does not wait"
  synchronised=1
else
  echo "clock: this host's clock is not synchronised; the start waits out its bound"
  synchronised=0
  # A start returns while the checker waits; a stop then ends the wait.
  echo CLOCK_WAIT=60 >"$root/etc/default/dormix"
  expect start 0
  waiting=$(pid_file_pid)
  [[ $(process_name "$waiting") == dormix-wait-clo ]] || fail "pid file names ${waiting:-nothing}, not the waiting checker"
  expect status 0
  grep -q 'waiting up to 60 s for a synchronised clock' "$scratch/out" || fail "status while waiting"
  expect stop 0
  [[ -z $(daemon_pids)$(checker_pids) ]] || fail "the wait outlived the stop"
  [[ ! -e $root$pid_file ]] || fail "the pid file is left behind"
  grep -q "dormix\[$waiting\]: started" "$syslog" && fail "the daemon started after the stop"
  expect status 3
fi
echo CLOCK_WAIT=1 >"$root/etc/default/dormix"

# With the board side's line file, the start loads the GPIO driver with its
# lines first (busybox's own insmod, whatever PATH says): there is none
# here, so it says so, and the daemon starts all the same.
cp "$root/opt/dormix/board/etc/gpio.sample" "$root/opt/dormix/etc/gpio"
printf 'input0=gpiochip0:3\ninput1=gpiochip0:4:active-low\n' >>"$root/opt/dormix/etc/gpio"
expect start 0
pid=$(expect_running)
[[ -d $root/var/run ]] || fail "the start did not make /var/run"
grep -q 'dormix_gpio could not be loaded (input0=gpiochip0:3 input1=gpiochip0:4:active-low )' \
  "$scratch/out" || fail "the start did not load the GPIO driver with the lines: $(cat "$scratch/out")"
rm "$root/opt/dormix/etc/gpio"
if ((synchronised == 0)); then
  grep -q "dormix-wait-clock\[$pid\]: the clock is not synchronised after 1 s: going on with the clock as it is; starting /opt/dormix/sbin/dormix" "$syslog" ||
    fail "no log line from the checker $pid: $(cat "$syslog")"
fi
expect status 0
expect start 0
[[ $(expect_running) == "$pid" ]] || fail "a second start replaced the daemon"
for action in restart reload force-reload; do
  expect "$action" 0
  wait_for_log "dormix[$pid]: stopped" || fail "$action: daemon $pid did not log stopped"
  new_pid=$(expect_running)
  [[ $new_pid != "$pid" ]] || fail "$action did not replace daemon $pid"
  pid=$new_pid
done
expect stop 0
expect_stopped "$pid"
expect status 3
expect stop 0

# A pid file left by a daemon that died, naming a process that is not it.
echo 1 >"$root$pid_file"
expect status 1
expect start 0
pid=$(expect_running)
# A restart with unusable settings leaves the daemon running; one with the
# module switched off stops it.
mv "$settings" "$scratch/settings"
expect restart 1
[[ $(daemon_pids) == "$pid" ]] || fail "a restart with unusable settings replaced daemon $pid"
mv "$scratch/settings" "$settings"
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=0/' "$settings"
expect restart 0
expect_stopped "$pid"
expect status 3
grep -q 'disabled' "$scratch/out" || fail "status does not say disabled"
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$settings"

# Unusable settings stop the start; a missing executable, the status.
mv "$settings" "$scratch/settings"
expect start 1
[[ -z $(daemon_pids)$(checker_pids) ]] || fail "started without settings"
mv "$scratch/settings" "$settings"
mv "$root/opt/dormix/sbin/dormix" "$scratch/dormix"
expect status 4
mv "$scratch/dormix" "$root/opt/dormix/sbin/dormix"
expect frobnicate 3

echo "busybox applets used: sh ${applets[*]}"
finish "sysvinit script on busybox"
