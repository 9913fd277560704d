#!/usr/bin/env bash
# The package's sysvinit script run for real in a throwaway root: start,
# status, restart, reload, force-reload and stop through start-stop-daemon,
# judged by the processes, the pid file and what the daemon logs; the LSB
# status codes; and, on a host run by systemd, every action handed to
# systemctl so that no second copy starts beside the unit's.
# Usage: init_script_test.sh PACKAGE SCRATCH_DIR   (as root)
set -uo pipefail
source "$(dirname "$0")/throwaway_root.sh"
enter_namespaces "$0" "$@"
package=$(realpath "$1")
source "$(dirname "$0")/../lib.sh"
make_root "$2" || exit 1
cp "$package" "$root/tmp/dormix.deb"
in_root dpkg -i /tmp/dormix.deb >"$root/tmp/dpkg.log" 2>&1 || { cat "$root/tmp/dpkg.log" >&2; exit 1; }

# init ACTION: runs the script as an operator would (its parent is not init).
# Each start waits up to a second for a synchronised clock (throwaway_root.sh).
init() { in_root sh -c '/etc/init.d/dormix "$1"; exit $?' sh "$1" >>"$root/tmp/init.log" 2>&1; }

# expect_status CODE WHY
expect_status() {
  init status
  local status=$?
  [[ $status -eq $1 ]] || fail "status is $status, not $1: $2"
}

# The sample leaves the module switched off: the postinst started nothing.
wait_for_log "dormix: not started: switched off" || fail "no log line about the switch"
[[ -z $(daemon_pids) ]] || fail "started while switched off"
expect_status 3 "switched off"
grep -q disabled "$root/tmp/init.log" || fail "status does not say disabled"
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$root/opt/dormix/etc/settings"
init stop || fail "stop when stopped"
init start || fail "start"
pid=$(expect_running)
expect_status 0 "running"
init start || fail "start when running"
[[ $(expect_running) == "$pid" ]] || fail "a second start replaced the daemon"
echo "start, stop, status: daemon $pid, pid file right"

for action in restart reload force-reload; do
  init "$action" || fail "$action"
  wait_for_log "dormix[$pid]: stopped" || fail "$action: daemon $pid did not log stopped"
  new_pid=$(expect_running)
  [[ $new_pid != "$pid" ]] || fail "$action did not replace daemon $pid"
  expect_status 0 "running after $action"
  echo "$action: daemon $pid replaced by $new_pid"
  pid=$new_pid
done

init stop || fail "stop"
expect_stopped "$pid"
expect_status 3 "stopped at the end"

# On a systemd host every action goes to the unit; reload as a restart.
mkdir -p "$root/run/systemd/system"
cat >"$root/usr/bin/systemctl" <<'SYSTEMCTL'
#!/bin/sh
case "$*" in
*LoadState*) echo loaded ;;
*CanReload*) echo no ;;
*is-system-running*) ;;
*) echo "$*" >>/tmp/systemctl.log ;;
esac
exit 0
SYSTEMCTL
chmod 755 "$root/usr/bin/systemctl"
for action in start status restart reload force-reload stop; do
  init "$action" || fail "under systemd: $action"
done
expected="--no-pager start dormix.service
--no-pager status dormix.service
--no-pager restart dormix.service
restart dormix.service
--no-pager force-reload dormix.service
--no-pager stop dormix.service"
[[ $(cat "$root/tmp/systemctl.log") == "$expected" ]] ||
  fail "under systemd, systemctl was called as: $(cat "$root/tmp/systemctl.log")"
[[ -z $(daemon_pids) && ! -e $root/run/dormix.pid ]] || fail "under systemd, the script started a copy"
echo "under systemd: every action handed to systemctl, no copy started"

finish "init script"
