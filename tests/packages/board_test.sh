#!/usr/bin/env bash
# Both packages on a Debian release as a user meets them, in a throwaway
# root over a root of that release (debian_root.sh): without DKMS the
# postinst says the driver is not built; apt installs them with
# what they declare (DKMS among it); the postinst, on a machine that does not
# run the root's kernel, says that the running kernel's headers are missing,
# and, given headers whose build fails, names DKMS's log; DKMS builds and
# installs dormix_gpio for the release's own kernel headers, without a
# warning; the init script starts, reports and stops the daemon there; and
# a purge leaves no file of either package.
# Usage: board_test.sh RELEASE_ROOT DAEMON_PACKAGE BOARD_PACKAGE SCRATCH_DIR   (as root)
set -uo pipefail
source "$(dirname "$0")/throwaway_root.sh"
enter_namespaces "$0" "$@"
release_root=$(realpath "$1")
daemon_package=$(realpath "$2")
board_package=$(realpath "$3")
source "$(dirname "$0")/../lib.sh"
make_root "$4" "$release_root" || exit 1
release=$(. "$root/etc/os-release" && echo "Debian $VERSION_ID ($VERSION_CODENAME)")
cp "$daemon_package" "$board_package" "$root/tmp/"
version=$(dpkg-deb -f "$board_package" Version)
version=${version%%[-+]*}
running_kernel=$(uname -r)
# build is a link into /usr/src: looked at from within the root.
kernel=$(in_root sh -c 'for dir in /lib/modules/*/build/include; do [ -d "$dir" ] && echo "$dir"; done' |
  sed -n '1s,^/lib/modules/\(.*\)/build/include$,\1,p')
[[ -n $kernel && $kernel != "$running_kernel" ]] ||
  { fail "no kernel headers of $release other than the running kernel's"; finish "$release"; }
log=$root/tmp/apt.log
apt_in_root() { in_root env DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@" >"$log" 2>&1; }
# The fakes at the daemon's tool paths stand for a vendor's tools.
vendor_tools=$(cat "$root/usr/sbin/lpm" "$root/usr/bin/status")
before=$root/tmp/files.before
(cd "$root" && find . -xdev | sort) >"$before"

# --- without DKMS (dpkg -i pulls nothing): a line says so
in_root dpkg -i "/tmp/${board_package##*/}" >"$log" 2>&1 || fail "dpkg -i without dkms: $(cat "$log")"
grep -qF "dormix_gpio not built: dkms is not installed" "$log" || fail "without dkms: $(grep dormix-board: "$log")"
in_root dpkg -P dormix-board >>"$log" 2>&1 || fail "dpkg -P after dpkg -i"

# --- install: the running kernel's headers are missing
apt_in_root install "/tmp/${daemon_package##*/}" "/tmp/${board_package##*/}" ||
  { cat "$log" >&2; fail "apt-get install"; finish "$release"; }
in_root dkms --version >/dev/null 2>&1 || fail "install: DKMS was not pulled in"
grep -qF "the headers of the running kernel $running_kernel are not installed" "$log" &&
  grep -qF "later run: dkms install dormix-gpio/$version -k $running_kernel" "$log" ||
  fail "install without headers: $(grep dormix-board: "$log")"
[[ $(cat "$root/usr/sbin/lpm" "$root/usr/bin/status") == "$vendor_tools" ]] ||
  fail "install: the tools at the daemon's paths were replaced"
echo "$release: installed with $(sed -n 's/.*, \([0-9]*\) newly installed.*/\1/p' "$log") packages;" \
  "postinst: $(grep -o 'dormix_gpio not built: [^;]*' "$log")"

# --- headers whose build fails: DKMS's log named, the package configured
build=$root/lib/modules/$running_kernel/build
mkdir -p "$build/include"
printf 'all modules:\n\t@echo "stand-in headers: error: no compiler here" >&2; exit 2\n%%:\n\t@:\n' \
  >"$build/Makefile"
apt_in_root install --reinstall "/tmp/${board_package##*/}" || { cat "$log" >&2; fail "reinstall with failing headers"; }
make_log=/var/lib/dkms/dormix-gpio/$version/build/make.log
grep -qF "failed; DKMS's log: $make_log" "$log" || fail "failing build: $(grep dormix-board: "$log")"
grep -q 'stand-in headers: error' "$root$make_log" 2>/dev/null || fail "failing build: $make_log holds no error"
[[ $(in_root dpkg-query -W -f='${Status}' dormix-board) == 'install ok installed' ]] ||
  fail "failing build: dormix-board is not configured"
rm -rf "$root/lib/modules/$running_kernel"
echo "$release: failing build: $(grep -o "failed; DKMS's log: [^;]*" "$log")"

# --- DKMS for the release's own kernel
built_log=$root/var/lib/dkms/dormix-gpio/$version/$kernel/x86_64/log/make.log
if in_root dkms build -m dormix-gpio -v "$version" -k "$kernel" >"$log" 2>&1 &&
  in_root dkms install -m dormix-gpio -v "$version" -k "$kernel" >>"$log" 2>&1; then
  module=$(cd "$root" && find "lib/modules/$kernel/updates/dkms" -name 'dormix_gpio.ko*')
  vermagic=$(in_root modinfo -k "$kernel" -F vermagic dormix_gpio 2>&1)
  [[ -n $module && $vermagic == "$kernel "* ]] || fail "installed for $kernel: '$module', vermagic '$vermagic'"
  warnings=$(grep -ci 'warning' "$built_log")
  [[ $warnings -eq 0 ]] || { grep -i warning "$built_log" >&2; fail "$warnings warnings building for $kernel"; }
  echo "$release: dkms built and installed /$module for $kernel, $warnings warnings"
else
  tail -n 30 "$log" >&2
  fail "dkms build and install for $kernel"
fi

# --- the init script: start, status, stop
init() { in_root sh -c '/etc/init.d/dormix "$1"; exit $?' sh "$1" >>"$root/tmp/init.log" 2>&1; }
sed -i 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$root/opt/dormix/etc/settings"
init start || fail "init start"
pid=$(expect_running)
init status || fail "init status is $?, not 0, while running"
init stop || fail "init stop"
expect_stopped "$pid"
init status
[[ $? -eq 3 ]] || fail "init status after the stop is not 3"
echo "$release: init script started daemon $pid, status 0, stopped it, status 3"

# --- purge: nothing of either package left
in_root dpkg -L dormix dormix-board >"$root/tmp/owned" 2>/dev/null
apt_in_root purge dormix dormix-board || { cat "$log" >&2; fail "apt-get purge"; }
(cd "$root" && find . -xdev | sort) >"$root/tmp/files.after"
left=$(while IFS= read -r file; do [[ -e $root$file && ! -d $root$file ]] && echo "$file"; done <"$root/tmp/owned"
  comm -13 "$before" "$root/tmp/files.after" | grep dormix |
    grep -vE '^\./tmp/|^\./var/(log|cache)/|^\./var/lib/dpkg/')
[[ -z $left ]] || fail "purge left: $(xargs <<<"$left")"
[[ $(cat "$root/usr/sbin/lpm" "$root/usr/bin/status") == "$vendor_tools" ]] ||
  fail "purge: the tools at the daemon's paths changed"
echo "$release: purged, no file of ours left"

finish "board package on $release"
