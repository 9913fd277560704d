#!/usr/bin/env bash
# The release archive's procd script run through OpenWrt's own rc.common,
# functions.sh, service.sh, procd.sh and jshn (tests/procd/third_party),
# with "ubus" replaced by a recorder that keeps each call's JSON: the
# "service set" message (command, respawn, watched files, stderr to the log,
# environment, and the reload trigger on the system config), no
# message at all for a start with unusable settings or with the module
# switched off, a reload that leaves the running instance alone when the
# settings cannot be used, and enable/disable with their rc.d links.
# The archive is unpacked under a private /opt (a tmpfs in this test's own
# mount namespace), so that the script's /opt/dormix paths are the real ones.
# Usage: procd_test.sh ARCHIVE SCRATCH_DIR   (as root)
set -uo pipefail
if [[ -z ${DORMIX_IN_NAMESPACES:-} ]]; then
  DORMIX_IN_NAMESPACES=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
archive=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$here/../lib.sh"
scratch=$(realpath -m "$2")
rm -rf "$scratch"
mkdir -p "$scratch"
third_party=$here/third_party/openwrt

# jshn, the JSON helper behind procd.sh, from the libubox sources it needs.
# -iquote: libubox's own assert.h includes the C library's <assert.h>.
jshn_build=$scratch/libubox
libubox=$third_party/src/libubox
mkdir -p "$jshn_build"
# shellcheck disable=SC2046 # pkg-config prints several words
if ! gcc -Os -std=gnu99 -w -iquote "$libubox" $(pkg-config --cflags json-c) \
  "$libubox"/{jshn,avl,avl-cmp,blob,blobmsg,blobmsg_json}.c -o "$jshn_build/jshn" \
  $(pkg-config --libs json-c) >"$scratch/jshn.log" 2>&1; then
  cat "$scratch/jshn.log" >&2
  exit 1
fi

mount -t tmpfs tmpfs /opt
tar -xzf "$archive" -C /
settings=/opt/dormix/etc/settings

# An OpenWrt root for rc.common (IPKG_INSTROOT), the script in its init.d.
root=$scratch/root
mkdir -p "$root/etc/init.d" "$root/etc/rc.d" "$root/var/lock" "$root/lib" "$root/usr/share"
cp "$third_party/etc/rc.common" "$root/etc/"
cp -r "$third_party/lib/." "$root/lib/"
cp -r "$third_party/usr/share/libubox" "$root/usr/share/"
cp /opt/dormix/init/procd/dormix "$root/etc/init.d/dormix"

# Fakes first in PATH: ubus and logger record, jsonfilter finds no service.
bin=$scratch/bin
calls=$scratch/ubus.log
logged=$scratch/logger.log
mkdir -p "$bin"
printf '#!/bin/sh\nexec %s/jshn "$@"\n' "$jshn_build" >"$bin/jshn"
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>%s\n' "$calls" >"$bin/ubus"
printf '#!/bin/sh\necho "$*" >>%s\n' "$logged" >"$bin/logger"
printf '#!/bin/sh\nexit 0\n' >"$bin/jsonfilter"
chmod 755 "$bin"/*

# rc ACTION: runs the script as OpenWrt does, through rc.common under bash.
rc() {
  : >"$calls"
  : >"$logged"
  env -i PATH="$bin:/usr/sbin:/usr/bin:/sbin:/bin" IPKG_INSTROOT="$root" \
    bash "$root/etc/rc.common" "$root/etc/init.d/dormix" "$@" >"$scratch/out" 2>&1
}
# expect ACTION STATUS CALLS: the exit status and the number of ubus calls.
expect() {
  rc "$1"
  local status=$?
  [[ $status -eq $2 ]] || fail "$1 exited $status, not $2: $(cat "$scratch/out")"
  [[ $(wc -l <"$calls") -eq $3 ]] || fail "$1 made $(wc -l <"$calls") ubus calls, not $3: $(cat "$calls")"
  echo "$1: exit $status, $(wc -l <"$calls") ubus calls$(sed 's/^/; ubus /' "$calls" | tr -d '\n' | cut -c1-60)"
}

# enable/disable: the rc.d links by START and STOP.
expect enable 0 0
[[ $(readlink "$root/etc/rc.d/S95dormix") == ../init.d/dormix &&
  $(readlink "$root/etc/rc.d/K10dormix") == ../init.d/dormix ]] || fail "enable: links $(ls "$root/etc/rc.d")"
expect enabled 0 0
expect disable 0 0
[[ -z $(ls "$root/etc/rc.d") ]] || fail "disable left $(ls "$root/etc/rc.d")"
expect enabled 1 0

# Switched on: one "service set" message.
sed 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' /opt/dormix/etc/settings.sample >"$settings"
expect start 0 1
message=$(sed -n 's/^call service set //p' "$calls")
echo "service set: $message"
python3 - "$message" "$root/etc/init.d/dormix" <<'PY' || fail "service set message: $message"
import json, sys
message = json.loads(sys.argv[1])
assert message["name"] == "dormix", message
assert message["script"] == sys.argv[2], message
assert list(message["instances"]) == ["instance1"], message
instance = message["instances"]["instance1"]
assert instance["command"] == ["/opt/dormix/sbin/dormix-check", "--wait-for-clock", "120",
                               "/opt/dormix/sbin/dormix"], instance
assert instance["respawn"] == ["3600", "5", "5"], instance
assert instance["file"] == ["/opt/dormix/etc/settings", "/etc/TZ"], instance
assert instance["stderr"] is True, instance
# No environment of its own: the daemon gets procd's.
assert set(instance) == {"command", "respawn", "file", "stderr"}, instance
# A change of the system config (the zone) reloads, after the system
# service's own reload (1000 ms) has written /etc/TZ.
assert message["triggers"] == [
    ["config.change", ["if", ["eq", "package", "system"],
                      ["run_script", "/etc/init.d/dormix", "reload"]], 3000]], message
PY
echo "triggers: $(python3 -c 'import json, sys; print(json.dumps(json.loads(sys.argv[1])["triggers"]))' "$message")"
# A reload sends the same message: procd restarts the daemon only when it or
# the watched file changed.
expect reload 0 1
[[ $(sed -n 's/^call service set //p' "$calls") == "$message" ]] || fail "reload: $(cat "$calls")"
expect stop 0 1
grep -qxF 'call service delete { "name": "dormix" }' "$calls" || fail "stop: $(cat "$calls")"

# Unusable settings: nothing sent, so a running daemon stays as it is.
mv "$settings" "$scratch/settings"
mkdir "$settings"
for action in start reload; do
  expect "$action" 1 0
  grep -q 'not started: /opt/dormix/etc/settings cannot be used' "$logged" ||
    fail "$action with unusable settings logged: $(cat "$logged")"
done
rmdir "$settings"
mv "$scratch/settings" "$settings"

# Switched off: a start sends nothing, says why; status says disabled; a
# reload stops the daemon that runs.
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=0/' "$settings"
expect start 0 0
grep -qx -- '-t dormix -p daemon.notice not started: switched off: MOD_DORMIX_ENABLED reads 0 in /opt/dormix/etc/settings; set MOD_DORMIX_ENABLED=1 to switch it on' "$logged" ||
  fail "start switched off logged: $(cat "$logged")"
expect status 3 1
grep -q '^disabled: switched off' "$scratch/out" || fail "status switched off: $(cat "$scratch/out")"
expect reload 0 1
grep -qxF 'call service delete { "name": "dormix" }' "$calls" || fail "reload switched off: $(cat "$calls")"

finish "procd script"
