#!/usr/bin/env bash
# What OpenWrt's sysupgrade keeps of the release archive installed as README
# says (program tree, settings, the page's secret, procd script and its
# rc.d links, NTP hotplug handler, the archive's keep file in
# /lib/upgrade/keep.d, and the settings page as README's uhttpd recipe
# serves it, with its realm file): each flash keeps only the files that "sysupgrade -l"
# lists, from a stand-in written from OpenWrt's documented keep lists
# (tests/procd/standin/sysupgrade, which fails on a line naming nothing),
# into a fresh throwaway root. After two flashes everything must still be
# there, byte for byte; a keep file that does not list itself must lose the
# install at the second flash, which shows that the flashes are real.
# Usage: sysupgrade_test.sh ARCHIVE SCRATCH_DIR   (as root)
set -uo pipefail
# shellcheck source=tests/packages/throwaway_root.sh
source "$(dirname "$0")/throwaway_root.sh"
enter_namespaces "$0" "$@"
archive=$(realpath "$1")
scratch=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$here/../lib.sh"
rm -rf "$scratch"
mkdir -p "$scratch"

# fresh_root NAME: a freshly flashed firmware with a keep list of its own.
fresh_root() {
  make_root "$scratch/$1" || fail "$1: no fresh root"
  mkdir -p "$root/lib/upgrade/keep.d"
  printf '## Files and directories kept across an upgrade.\n' >"$root/etc/sysupgrade.conf"
  echo /etc/hostname >"$root/lib/upgrade/keep.d/base-files-essential"
  install -m 755 "$here/../procd/standin/sysupgrade" "$root/sbin/sysupgrade"
  # uhttpd's configuration, kept by OpenWrt as a changed file of its package.
  echo /etc/config/uhttpd >"$root/lib/upgrade/keep.d/uhttpd"
}

# README's uhttpd instance for the page, the program's path it serves and
# the realm file it names.
readme=$here/../../README.md
uhttpd_config=$(sed -n "/^config uhttpd 'dormix'\$/,/^\$/p" "$readme" | grep -v '^[`]*$')
option() { sed -n "s/^\toption $1 '\(.*\)'$/\1/p" <<<"$uhttpd_config"; }
page=$(option home)$(option cgi_prefix)/dormix-web
realm=$(option config)
realm_line=$(grep -m1 '^/cgi-bin/dormix-web:' "$readme")
[[ -n $uhttpd_config && -n $realm_line ]] || fail "no uhttpd recipe in README"

# install_dormix KEEP_FILE: the OpenWrt steps of README in $root.
install_dormix() {
  tar -xzf "$archive" -C "$root"
  local tree=$root/opt/dormix
  sed 's/^MOD_DORMIX_ENABLED=.*/MOD_DORMIX_ENABLED=1/' "$tree/etc/settings.sample" >"$tree/etc/settings"
  head -c 32 /dev/urandom >"$tree/etc/web.secret"
  chmod 600 "$tree/etc/web.secret"
  mkdir -p "$root"/{etc/init.d,etc/rc.d,etc/hotplug.d/ntp,lib/upgrade/keep.d}
  install -m 755 "$tree/init/procd/dormix" "$root/etc/init.d/dormix"
  # What "/etc/init.d/dormix enable" makes (START=95, STOP=10).
  ln -s ../init.d/dormix "$root/etc/rc.d/S95dormix"
  ln -s ../init.d/dormix "$root/etc/rc.d/K10dormix"
  cp "$tree/init/procd/dormix.ntp-hotplug" "$root/etc/hotplug.d/ntp/25-dormix"
  install -m 644 "$1" "$root/lib/upgrade/keep.d/dormix"
  mkdir -p "$root/etc/config"
  printf '%s\n' "$uhttpd_config" >"$root/etc/config/uhttpd"
  [[ -z $realm ]] || echo "$realm_line" >"$root$realm"
  # The page is linked into the served tree unless README serves it in place.
  [[ -e $root$page ]] || { mkdir -p "$(dirname "$root$page")" &&
    ln -s /opt/dormix/www/cgi-bin/dormix-web "$root$page"; }
}

# flash NAME: the files $root's keep lists name, as sysupgrade saves them,
# restored into a fresh root, which becomes $root.
flash() {
  in_root sh -c 'sysupgrade -l >/tmp/conffiles' || fail "$1: sysupgrade -l failed"
  in_root tar -cf /tmp/kept.tar -T /tmp/conffiles 2>/dev/null
  cp "$root/tmp/kept.tar" "$scratch/$1.tar"
  fresh_root "$1"
  tar -xf "$scratch/$1.tar" -C "$root"
}

# listing: every dormix file in $root with its type, mode and checksum.
listing() {
  (cd "$root" && find opt/dormix etc/init.d/dormix etc/rc.d etc/hotplug.d lib/upgrade/keep.d/dormix \
    "${page#/}" ${realm:+"${realm#/}"} \
    \( -type f -o -type l \) 2>/dev/null | sort -u | while IFS= read -r file; do
    if [[ -L $file ]]; then
      echo "/$file -> $(readlink "$file")"
    else
      echo "/$file $(stat -c %a "$file") $(sha256sum <"$file" | cut -c1-12)"
    fi
  done)
}

# The archive's keep file, and the same without its own line.
tar -xzf "$archive" -C "$scratch" opt/dormix/init/procd/dormix.keep
keep=$scratch/opt/dormix/init/procd/dormix.keep
grep -vx /lib/upgrade/keep.d/dormix "$keep" >"$scratch/keep-forgets-itself"

fresh_root installed
install_dormix "$keep"
installed=$(listing)
flash first
flash second
[[ $(listing) == "$installed" ]] ||
  fail "two flashes changed the install: $(diff <(echo "$installed") <(listing) | tr '\n' ' ')"
echo "kept through two flashes:"
listing | sed 's/^/  /'

fresh_root forgetful
install_dormix "$scratch/keep-forgets-itself"
flash forgetful-first
[[ -e $root/opt/dormix/etc/settings && ! -e $root/lib/upgrade/keep.d/dormix ]] ||
  fail "a keep file without its own line: the first flash did not keep the install, or kept the keep file"
flash forgetful-second
[[ -z $(listing) ]] || fail "a keep file without its own line: the second flash kept $(listing | tr '\n' ' ')"

# The stand-in is strict: a keep line naming nothing fails the listing.
echo /etc/dormix-nothing >>"$root/etc/sysupgrade.conf"
in_root sysupgrade -l >/dev/null 2>&1
[[ $? -eq 99 ]] || fail "a keep line naming nothing was passed over"

finish "sysupgrade keeps the install"
