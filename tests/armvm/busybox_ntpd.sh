#!/usr/bin/env bash
# Builds busybox's ntpd applet alone, static, for a test guest: Debian's
# busybox packages leave ntpd out, yet it is the NTP client that OpenWrt runs
# (sysntpd) and that the guest's clock check runs against. The source is
# Debian's busybox source package, fetched with apt-get through a private
# source list (the host's apt configuration stays as it is). Source and
# binaries are kept in CACHE_DIR/busybox-ntpd, keyed by the source version
# and the build steps, so a second run reuses them. Prints the binary's path.
# Usage: tests/armvm/busybox_ntpd.sh CACHE_DIR ARCH CROSS_PREFIX
#   e.g. tests/armvm/busybox_ntpd.sh /var/cache/dormix-arm-vm armhf arm-linux-gnueabihf-
set -euo pipefail
cache=$1/busybox-ntpd
arch=$2
cross=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$here/../lib.sh"
# Its output is this script's answer: the installer's lines go to stderr.
need_packages make bzip2 >&2
mkdir -p "$cache/apt/lists/partial"
# The guests are set up side by side: one fetch and one build at a time.
exec 9>"$cache/lock"
flock 9

apt_options=(-o "Dir::Etc::SourceList=$cache/apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
  -o "Dir::State::Lists=$cache/apt/lists" -q=2)
# The same mirror as the host's own packages, for sources.
entry=$(host_mirror) || exit 1
read -r mirror key <<<"$entry"
echo "deb-src [signed-by=$key] $mirror bookworm main" >"$cache/apt/sources.list"
if [[ ! -f $cache/apt/updated ]]; then
  apt-get "${apt_options[@]}" update >&2
  touch "$cache/apt/updated"
fi
version=$(apt-cache "${apt_options[@]}" showsrc busybox | sed -n 's/^Version: //p' | sort -V | tail -n1)
upstream=${version#*:}
upstream=${upstream%%-*}
# The key: the source version and the build below (from its configuration on).
key=$( (echo "$version"; sed -n '/^make allnoconfig/,$p' "$here/busybox_ntpd.sh") | sha256sum | cut -c1-16)
binary=$cache/$key/$arch/ntpd
if [[ -x $binary ]]; then
  echo "$binary"
  exit 0
fi

source_dir=$cache/source
tarball=$source_dir/busybox_$upstream.orig.tar.bz2
if [[ ! -f $tarball ]]; then
  mkdir -p "$source_dir"
  (cd "$source_dir" && apt-get "${apt_options[@]}" source --download-only "busybox=$version") \
    2> >(grep -v 'unsandboxed as root' >&2)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tar -xjf "$tarball" -C "$work"
cd "$work/busybox-$upstream"
# Nothing but ntpd, linked static; it runs as "ntpd" by its name.
make allnoconfig >/dev/null
sed -i -e 's/^# CONFIG_NTPD is not set/CONFIG_NTPD=y/' \
  -e 's/^# CONFIG_STATIC is not set/CONFIG_STATIC=y/' .config
# New options take their defaults; yes ends on a closed pipe, so its status is not the make's.
{ yes "" || true; } | make oldconfig >/dev/null 2>&1
grep -qx 'CONFIG_NTPD=y' .config
make -j2 CROSS_COMPILE="$cross" busybox >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; exit 1; }
mkdir -p "$(dirname "$binary")"
install -m 755 busybox "$binary"
echo "$binary"
