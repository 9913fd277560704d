#!/usr/bin/env bash
# The release archive's procd script on a stand-in of OpenWrt's procd side
# (tests/procd/standin: rc.common, procd.sh, ubus, each saying what OpenWrt
# behaviour it stands for), in a root that holds only Debian's
# busybox-static, whose sh is OpenWrt's too, with /etc/TZ and /etc/localtime
# linked into /tmp as on OpenWrt. Judged by the "service set" message procd
# gets, what procd would do with each (start, restart, unchanged, stop),
# the script's output and exit status, and the system log: enable/disable,
# the module switch, unusable settings, a zone changed by name (zoneinfo:
# /tmp/localtime) and by POSIX string (/tmp/TZ) restarting the daemon on
# reload, the zone the static checker then reads, stop/restart without a
# service in procd, status, and the NTP hotplug handler run both ways.
# Usage: procd_test.sh ARCHIVE BUSYBOX_STATIC_DEB SCRATCH_DIR   (as root)
set -uo pipefail
# shellcheck source=tests/packages/throwaway_root.sh
source "$(dirname "$0")/../packages/throwaway_root.sh"
enter_namespaces "$0" "$@"
archive=$(realpath "$1")
busybox_deb=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$here/../lib.sh"

scratch=$3
make_busybox_root "$scratch" "$busybox_deb" "$archive" || exit 1
mkdir -p "$root/lib/functions"
install -m 755 "$here/standin/rc.common" "$root/etc/rc.common"
install -m 755 "$here/standin/ubus" "$root/bin/ubus"
install -m 644 "$here/standin/procd.sh" "$root/lib/functions/procd.sh"
for zone in Europe/Berlin America/New_York; do
  install -D -m 644 "/usr/share/zoneinfo/$zone" "$root/usr/share/zoneinfo/$zone"
done
ln -s /tmp/TZ "$root/etc/TZ"
ln -s /tmp/localtime "$root/etc/localtime"
cp "$root/opt/dormix/init/procd/dormix" "$root/etc/init.d/dormix"

# rc ACTION: /etc/init.d/dormix ACTION, its interpreter line naming
# /etc/rc.common, as the administrator runs it.
rc() {
  : >"$root/tmp/ubus.log"
  : >"$root/tmp/procd.log"
  : >"$syslog"
  chroot "$root" /bin/busybox env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /etc/init.d/dormix "$@" \
    >"$scratch/out" 2>&1
}
# expect ACTION STATUS [PROCD_DID]: the exit status and what procd did
# (nothing when left out).
expect() {
  rc "$1"
  local status=$? did
  did=$(tr '\n' ' ' <"$root/tmp/procd.log")
  [[ $status -eq $2 ]] || fail "$1 exited $status, not $2: $(cat "$scratch/out")"
  [[ ${did% } == "${3:-}" ]] || fail "$1: procd did \"$did\", not \"${3:-}\""
  [[ $1 != stop ]] || [[ ! -s $scratch/out ]] || fail "stop printed $(cat "$scratch/out")"
  echo "$1: exit $status, procd: ${did:-nothing}; $(tr '\n' ' ' <"$scratch/out")"
}
# zone_by_name ZONE / zone_by_string TEXT: what OpenWrt's system service does
# with a zone chosen by name (zoneinfo installed) or as a POSIX TZ string.
zone_by_name() {
  rm -f "$root/tmp/TZ"
  ln -sfn "/usr/share/zoneinfo/$1" "$root/tmp/localtime"
}
zone_by_string() {
  rm -f "$root/tmp/localtime"
  echo "$1" >"$root/tmp/TZ"
}
# The zone the static checker reads, as the abbreviation of a summer time.
zone_read() {
  chroot "$root" /opt/dormix/sbin/dormix-check /opt/dormix/etc/settings --at '2026-07-01 12:00:00' |
    sed -n '1s/.* //p'
}

expect enable 0
[[ $(readlink "$root/etc/rc.d/S95dormix") == ../init.d/dormix &&
  $(readlink "$root/etc/rc.d/K10dormix") == ../init.d/dormix ]] || fail "enable: links $(ls "$root/etc/rc.d")"
expect enabled 0
expect disable 0
[[ -z $(ls "$root/etc/rc.d") ]] || fail "disable left $(ls "$root/etc/rc.d")"
expect enabled 1

# The sample leaves the module switched off: nothing sent, the log says why.
expect start 0
wait_for_log 'dormix: not started: switched off: MOD_DORMIX_ENABLED reads 0 in /opt/dormix/etc/settings; set MOD_DORMIX_ENABLED=1 to switch it on' ||
  fail "start switched off logged: $(cat "$syslog")"
expect status 3
grep -q '^disabled: switched off' "$scratch/out" || fail "status switched off: $(cat "$scratch/out")"

# Switched on, in Berlin chosen by name: one "service set" message.
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$settings"
zone_by_name Europe/Berlin
expect start 0 "start dormix"
message=$(sed -n 's/^call service set //p' "$root/tmp/ubus.log")
python3 - "$message" <<'PY' || fail "service set message: $message"
import json, sys
message = json.loads(sys.argv[1])
assert message["name"] == "dormix" and message["script"] == "/etc/init.d/dormix", message
assert list(message["instances"]) == ["instance1"], message
instance = message["instances"]["instance1"]
assert instance == {
    "command": ["/opt/dormix/sbin/dormix-wait-clock", "120", "/opt/dormix/sbin/dormix"],
    "respawn": ["3600", "5", "5"],
    "file": ["/opt/dormix/etc/settings", "/etc/TZ", "/etc/localtime", "/tmp/localtime"],
    "stderr": True}, instance
# A change of the system config (the zone) reloads, after the system
# service's own reload (1000 ms) has written the zone.
assert message["triggers"] == [
    ["config.change", ["if", ["eq", "package", "system"],
                      ["run_script", "/etc/init.d/dormix", "reload"]], 3000]], message
PY
echo "service set: $message"
[[ $(zone_read) == CEST ]] || fail "the checker reads $(zone_read) in Berlin"
expect reload 0 "unchanged dormix"
# Each zone change, by name or by string, restarts the daemon on the reload
# that the system config's change runs, and the new zone is the one read.
for change in "name America/New_York EDT" "string JST-9 JST" \
  "string CET-1CEST,M3.5.0,M10.5.0/3 CEST" "name Europe/Berlin CEST"; do
  read -r how zone abbreviation <<<"$change"
  "zone_by_$how" "$zone"
  expect reload 0 "restart dormix"
  [[ $(zone_read) == "$abbreviation" ]] || fail "zone $zone: the checker reads $(zone_read)"
done
expect status 0
[[ $(cat "$scratch/out") == running ]] || fail "status: $(cat "$scratch/out")"
# procd gave up on the instance after a crash loop: procd's own answer.
echo false >"$root/var/run/procd/dormix.running"
expect status 5
[[ $(cat "$scratch/out") == "not running" ]] || fail "status after a crash loop: $(cat "$scratch/out")"
expect stop 0 "stop dormix"
expect status 3
# No dormix service in procd: stop and restart say nothing of procd's
# "Not found", which is no failure.
expect stop 0
expect restart 0 "start dormix"
grep -q 'Command failed' "$scratch/out" && fail "restart without a service: $(cat "$scratch/out")"

# Unusable settings: nothing sent, so a running daemon stays as it is.
mv "$settings" "$scratch/settings"
mkdir "$settings"
for action in start reload; do
  expect "$action" 1
  wait_for_log 'not started: /opt/dormix/etc/settings cannot be used' ||
    fail "$action with unusable settings logged: $(cat "$syslog")"
done
rmdir "$settings"
mv "$scratch/settings" "$settings"

# Switched off: a reload stops the daemon that runs.
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=0/' "$settings"
expect reload 0 "stop dormix"
wait_for_log 'dormix: stopped: switched off' || fail "reload switched off logged: $(cat "$syslog")"
expect reload 0
grep -q 'Command failed' "$scratch/out" && fail "reload without a service: $(cat "$scratch/out")"

# The stand-in is strict: a parameter procd does not know stops the script;
# a restart without a service shows what its start says on stderr.
sed 's/procd_set_param stderr 1/procd_set_param stdrr 1/' "$root/opt/dormix/init/procd/dormix" \
  >"$root/etc/init.d/dormix"
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$settings"
expect restart 99
grep -q 'no parameter "stdrr"' "$scratch/out" || fail "restart hid its start's stderr: $(cat "$scratch/out")"
cp "$root/opt/dormix/init/procd/dormix" "$root/etc/init.d/dormix"

# The clock wait under procd's "stderr 1", which logs every line of the
# standard error as daemon.err (priority 27): one line per start, at its own
# level, info (30) or warning (28); none when the clock was set at once.
: >"$syslog"
# shellcheck disable=SC2016 # expanded by the root's shell
chroot "$root" /bin/sh -c '/opt/dormix/sbin/dormix-wait-clock 0 /bin/true 2>&1 |
  logger -p daemon.err -t dormix-wait-clock; logger -t test end'
# The socket keeps the order: once the end is there, so is all before it.
wait_for_log 'test: end' || fail "no end in the log"
if [[ $(grep -c 'dormix-wait-clock' "$syslog") -gt 1 ]] || grep -q '^<27>' "$syslog"; then
  fail "the clock wait logged: $(cat "$syslog")"
fi
echo "the clock wait logged: $(grep dormix-wait-clock "$syslog")"

# The NTP hotplug handler, run as busybox ntpd's -S script and sourced by
# hotplug-call with ACTION set: a stratum or a step marks this boot.
handler=/opt/dormix/init/procd/dormix.ntp-hotplug
boot_id=$(cat /proc/sys/kernel/random/boot_id)
for run in "$handler stratum" "ACTION=step; . $handler" "$handler periodic"; do
  rm -f "$root/var/state/dormix-ntp-synced"
  chroot "$root" /bin/sh -c "$run" >"$scratch/out" 2>&1
  mark=$(cat "$root/var/state/dormix-ntp-synced" 2>/dev/null)
  if [[ $run == *periodic ]]; then
    [[ -z $mark ]] || fail "$run marked the clock as set"
  else
    [[ $mark == "$boot_id" ]] || fail "$run: mark \"$mark\", $(cat "$scratch/out")"
  fi
done

finish "procd script"
