#!/usr/bin/env bash
# A Debian root of SUITE (bookworm, trixie) for the board package's test,
# made with debootstrap (minbase) and kept in the cache: the release's own
# kernel headers (linux-headers-amd64, with the kernel image they depend on)
# installed, as on a machine that runs that kernel, and DKMS with what it
# pulls downloaded but not installed, for the package to pull. Only the
# suite itself, no updates or security suite: its packages stay on the
# mirror until its next point release, which changes the key.
# Prints the root's path.
# Usage: debian_root.sh SUITE   (as root; DORMIX_DEBIAN_ROOT_CACHE, default
#        /var/cache/dormix-debian-roots)
set -euo pipefail
suite=$1
cache=${DORMIX_DEBIAN_ROOT_CACHE:-/var/cache/dormix-debian-roots}
mkdir -p "$cache"

# The host's own mirror.
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/../lib.sh"
entry=$(host_mirror) || exit 1
read -r mirror _ <<<"$entry"

# Keyed by the suite's release date; offline, the newest root made before.
release=$cache/$suite.InRelease
key=
if /usr/lib/apt/apt-helper download-file "${mirror%/}/dists/$suite/InRelease" "$release" >/dev/null 2>&1; then
  key=$(sed -n 's/^Date: //p' "$release" | head -n1 | date -u -f - +%Y%m%dT%H%M%SZ)
fi
if [[ -z $key ]]; then
  roots=("$cache/$suite"-amd64-*/root)
  latest=${roots[-1]}
  [[ -d $latest ]] || { echo "debian_root: cannot reach the $suite release file" >&2; exit 1; }
  echo "$latest"
  exit 0
fi
dir=$cache/$suite-amd64-$key
if [[ -d $dir/root ]]; then
  echo "$dir/root"
  exit 0
fi

rm -rf "$dir.new"
mkdir -p "$dir.new"
debootstrap --variant=minbase --arch=amd64 "$suite" "$dir.new/root" "$mirror" >"$dir.new/debootstrap.log" 2>&1 ||
  { tail -n 20 "$dir.new/debootstrap.log" >&2; exit 1; }
# shellcheck disable=SC2016 # expanded by the inner shell
unshare --mount --propagation private bash -c '
  root=$1
  mount -t proc proc "$root/proc"
  for node in null zero random urandom full tty; do
    [[ -e $root/dev/$node ]] || touch "$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node"
  done
  # The kernel image, which the headers depend on, is never booted: no
  # initramfs for it (INITRD=No, which its hook heeds).
  apt() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive INITRD=No \
      apt-get -q -y "$@"
  }
  apt install linux-headers-amd64 && apt install --download-only dkms
' sh "$dir.new/root" >"$dir.new/apt.log" 2>&1 || { tail -n 20 "$dir.new/apt.log" >&2; exit 1; }
mv "$dir.new" "$dir"
# Older roots of the suite are not used again.
for old in "$cache/$suite"-amd64-*; do
  [[ $old == "$dir" ]] || rm -rf "$old"
done
echo "$dir/root"
