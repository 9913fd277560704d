#!/usr/bin/env bash
# The package's life cycle in a throwaway root, as an operator meets it:
# install without settings, upgrade to a rebuilt higher version, remove,
# purge, and install where settings exist.
# Usage: lifecycle_test.sh PACKAGE UPGRADE_PACKAGE SCRATCH_DIR   (as root)
set -uo pipefail
source "$(dirname "$0")/throwaway_root.sh"
enter_namespaces "$0" "$@"
package=$(realpath "$1")
upgrade=$(realpath "$2")
source "$(dirname "$0")/../lib.sh"
make_root "$3" || exit 1
settings=$root/opt/dormix/etc/settings
cp "$package" "$root/tmp/first.deb"
cp "$upgrade" "$root/tmp/upgrade.deb"

dpkg_in_root() {
  in_root dpkg "$@" >>"$root/tmp/dpkg.log" 2>&1 || { cat "$root/tmp/dpkg.log" >&2; fail "dpkg $*"; }
}

# running PID: the daemon runs as PID, from the installed executable, alone,
# with its pid file right and "started" logged under that pid.
running() {
  local pid=$1
  [[ -n $pid ]] || { fail "no pid file"; return; }
  # Logged once it has replaced start-stop-daemon's child and taken its session.
  wait_for_log "dormix[$pid]: started" || fail "daemon $pid did not log started"
  [[ $(daemon_pids) == "$pid" ]] || fail "running daemons: $(daemon_pids | xargs), pid file: $pid"
  local executable
  executable=$(in_root readlink "/proc/$pid/exe")
  [[ $executable == /usr/sbin/dormix ]] || fail "daemon $pid runs $executable"
}

# --- install on a system without settings
[[ -e $root/opt/dormix ]] && fail "the throwaway root already has /opt/dormix"
dpkg_in_root -i /tmp/first.deb
cmp -s "$settings" "$root/opt/dormix/etc/settings.sample" ||
  fail "install: the settings are not the sample"
[[ $(readlink "$root/etc/systemd/system/multi-user.target.wants/dormix.service") == \
  /lib/systemd/system/dormix.service ]] || fail "install: the unit is not enabled"
compgen -G "$root/etc/rc2.d/S[0-9][0-9]dormix" >/dev/null || fail "install: not enabled in runlevel 2"
grep -qx ' /etc/init.d/dormix [0-9a-f]*' <(in_root dpkg-query -W -f='${Conffiles}\n' dormix) ||
  fail "install: /etc/init.d/dormix is not a conffile"
# The installed unit, its programs in place.
verify=$(in_root systemd-analyze verify --man=no /lib/systemd/system/dormix.service 2>&1) ||
  fail "systemd-analyze verify: $verify"
[[ -z $verify ]] || fail "systemd-analyze verify: $verify"

# The sample leaves the module switched off: nothing started, a line says so.
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$settings"
in_root invoke-rc.d dormix start >>"$root/tmp/dpkg.log" 2>&1 || fail "install: start once switched on"
first_pid=$(pid_file_pid)
running "$first_pid"
echo "install: settings from the sample (switched off, nothing started), unit and runlevel links enabled; switched on, daemon $first_pid running"

# --- upgrade to a rebuilt higher version
printf 'MOD_DORMIX_SLEEP_DELAY0_SECOND=7200\n' >>"$settings"
cp "$settings" "$root/tmp/edited"
dpkg_in_root -i /tmp/upgrade.deb
cmp -s "$settings" "$root/tmp/edited" || fail "upgrade: the edited settings changed"
upgraded_pid=$(pid_file_pid)
[[ $upgraded_pid != "$first_pid" ]] || fail "upgrade: the old daemon ($first_pid) still runs"
[[ -d $root/proc/$first_pid ]] && fail "upgrade: the old daemon ($first_pid) is still there"
wait_for_log "dormix[$first_pid]: stopped" || fail "upgrade: the old daemon did not log stopped"
running "$upgraded_pid"
echo "upgrade: edits kept, daemon $first_pid replaced by $upgraded_pid"

# --- remove
dpkg_in_root -r dormix
[[ -z $(daemon_pids) ]] && [[ ! -e $root/run/dormix.pid ]] || fail "remove: the daemon still runs"
wait_for_log "dormix[$upgraded_pid]: stopped" || fail "remove: the daemon did not log stopped"
cmp -s "$settings" "$root/tmp/edited" || fail "remove: the settings were not kept"
# The kept init script is no longer executable, so that no boot runs it; run
# by hand, it cannot tell whether a daemon runs, and has nothing to start.
[[ -x $root/etc/init.d/dormix ]] && fail "remove: the init script is still executable"
in_root sh /etc/init.d/dormix status >/dev/null
[[ $? -eq 4 ]] || fail "remove: the init script's status is not 4 (cannot tell)"
in_root sh /etc/init.d/dormix start >/dev/null || fail "remove: the init script's start fails"
[[ -z $(daemon_pids) ]] || fail "remove: the init script started something"
echo "remove: daemon stopped, settings kept, init script disabled and reporting 4"

# --- purge
dpkg_in_root -P dormix
[[ -e $root/opt/dormix ]] && fail "purge: /opt/dormix is still there"
[[ -e $root/etc/init.d/dormix ]] && fail "purge: the init script is still there"
compgen -G "$root/etc/rc?.d/[SK][0-9][0-9]dormix" >/dev/null && fail "purge: runlevel links left"
[[ -L $root/etc/systemd/system/multi-user.target.wants/dormix.service ]] &&
  fail "purge: the unit is still enabled"
echo "purge: settings, /opt/dormix, init script and links gone"

# --- install where settings exist
mkdir -p "$root/opt/dormix/etc"
printf 'MOD_DORMIX_ENABLED=1\nMOD_DORMIX_SLEEP_TIME0_ENABLED=1\n' >"$settings"
cp "$settings" "$root/tmp/existing"
dpkg_in_root -i /tmp/first.deb
cmp -s "$settings" "$root/tmp/existing" || fail "install over existing settings: not kept"
running "$(pid_file_pid)"
echo "install where settings exist: kept, daemon running"

finish "package life cycle"
