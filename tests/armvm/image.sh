#!/usr/bin/env bash
# Builds a test guest's base image from Debian packages of one architecture
# (armhf: ARMv7, arm64: AArch64, amd64: x86-64): the kernel (with fuse.ko and overlay.ko
# unless built in),
# busybox and the C and C++ run-time libraries, packed as a gzip-compressed
# initramfs. Downloads and the image are kept in CACHE_DIR/<key>, the key
# naming every package version, so a second run reuses them. Prints the
# directory holding "vmlinuz" and "base.cpio.gz". KERNEL_LINE 6.1 (the
# default) takes Debian 12's own kernel, 6.12 the one of its backports suite
# (tests/lib.sh backports_apt); everything else is the same in both.
# Usage: tests/armvm/image.sh CACHE_DIR armhf|arm64|amd64 [6.1|6.12]
set -euo pipefail
cache_root=$1
arch=$2
line=${3:-6.1}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/lib.sh
source "$here/../lib.sh"
case $line in
  6.1) kernel_apt=() ;;
  6.12) kernel_apt=(backports_apt) ;;
  *) echo "image: no kernel line '$line' (6.1, 6.12)" >&2; exit 2 ;;
esac

case $arch in
  armhf) flavour=armmp-lpae triplet=arm-linux-gnueabihf ;;
  arm64) flavour=arm64 triplet=aarch64-linux-gnu ;;
  amd64) flavour=amd64 triplet=x86_64-linux-gnu ;;
  *) echo "image: no guest for architecture '$arch' (armhf, arm64, amd64)" >&2; exit 2 ;;
esac
# The kernel is found through the meta package, which names the actual one.
kernel_package=$("${kernel_apt[@]}" apt-cache depends --no-recommends --no-suggests "linux-image-$flavour:$arch" |
  sed -n "s/^ *Depends: \(linux-image-[0-9][^:]*-$flavour\)\(:$arch\)\{0,1\}\$/\1/p" | head -n1)
if [[ -z $kernel_package ]]; then
  echo "image: no kernel behind linux-image-$flavour:$arch (apt-get update with $arch enabled?)" >&2
  exit 1
fi
# tzdata: the checker's tests read time zones.
packages=("busybox-static:$arch" "libc6:$arch" "libgcc-s1:$arch"
  "libstdc++6:$arch" "libfuse3-3:$arch" tzdata)

# One query for all: "NAME:" lines, each followed by its candidate.
candidates() {
  "$@" | awk '/^[^ ].*:$/ { name = substr($0, 1, length($0) - 1) }
              /^  Candidate: / && $2 != "(none)" { print name "=" $2 }'
}
versions=$(candidates "${kernel_apt[@]}" apt-cache policy "$kernel_package:$arch"
  candidates apt-cache policy "${packages[@]}")
if [[ $(wc -l <<<"$versions") -ne $((${#packages[@]} + 1)) ]]; then
  echo "image: not every package has a candidate:" "$kernel_package:$arch" "${packages[@]}" >&2
  exit 1
fi
key=$( (printf '%s' "$versions"; cat "$here/image.sh") | sha256sum | cut -c1-16)
image_dir=$cache_root/$key
if [[ -f $image_dir/base.cpio.gz && -f $image_dir/vmlinuz ]]; then
  echo "$image_dir"
  exit 0
fi

mkdir -p "$image_dir/debs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$image_dir/debs"
  wanted=()
  while IFS='=' read -r package version; do
    file="${package%:*}_${version//:/%3a}_"
    ls "$file"*.deb >/dev/null 2>&1 || wanted+=("$package=$version")
  done <<<"$versions"
  # Only the archive files are fetched: nothing is installed on the host.
  # The kernel comes first, from its own suite.
  if [[ ${#wanted[@]} -ne 0 && ${wanted[0]} == linux-image-* ]]; then
    "${kernel_apt[@]}" apt-get download -q=2 "${wanted[0]}" >&2
    wanted=("${wanted[@]:1}")
  fi
  [[ ${#wanted[@]} -eq 0 ]] || apt-get download -q=2 "${wanted[@]}" >&2
) 2> >(grep -v 'unsandboxed as root' >&2)

root=$work/root
mkdir -p "$root"
for deb in "$image_dir"/debs/*.deb; do
  [[ $(basename "$deb") == linux-image-* ]] && continue
  dpkg-deb -x "$deb" "$root"
done
find "$root/usr/share" -mindepth 1 -maxdepth 1 ! -name zoneinfo -exec rm -rf {} +
rm -rf "$root/usr/lib/$triplet/gconv" "$root/usr/lib/$triplet/audit"

kernel=$work/kernel
dpkg-deb -x "$image_dir"/debs/linux-image-*.deb "$kernel"
cp "$kernel"/boot/vmlinuz-* "$work/vmlinuz"
mkdir -p "$root/lib/modules"
for module in fs/fuse/fuse.ko fs/overlayfs/overlay.ko; do
  found=$(find "$kernel/lib/modules" -path "*/kernel/$module*" | head -n1)
  # Built in (6.12's fuse): the init loads only the modules it finds.
  if [[ -z $found ]] && grep -qx "kernel/$module" "$kernel"/lib/modules/*/modules.builtin; then
    continue
  fi
  [[ -n $found ]] || { echo "image: the kernel has no $module" >&2; exit 1; }
  # busybox insmod reads plain modules only; newer kernels ship them compressed.
  case $found in
    *.xz) xz -dc "$found" >"$root/lib/modules/$(basename "$module")" ;;
    *.zst) zstd -qdc "$found" >"$root/lib/modules/$(basename "$module")" ;;
    *.gz) gzip -dc "$found" >"$root/lib/modules/$(basename "$module")" ;;
    *) cp "$found" "$root/lib/modules/" ;;
  esac
done

mkdir -p "$root"/{dev,proc,sys,run,tmp,opt,usr/bin,usr/sbin,sbin,etc}
ln -sf busybox "$root/bin/sh"
(cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --owner 0:0 -R 0:0 --quiet) |
  gzip -1 >"$work/base.cpio.gz"
printf '%s\n' "$versions" >"$work/versions"
mv "$work/vmlinuz" "$work/base.cpio.gz" "$work/versions" "$image_dir/"
echo "$image_dir"
