#!/usr/bin/env bash
# Builds the kernel modules a test guest loads, against the headers of that
# guest's own kernel (the one tests/armvm/image.sh put into its image):
# dormix_gpio from kernel/dormix_gpio and the test-only line provider
# dormix_testchip from tests/armvm/testchip. Nothing is installed on this
# machine: Debian's linux-headers-<abi>-<flavour>, -common and
# linux-kbuild-<series> are unpacked into CACHE_DIR/kernel-headers/<key>,
# kbuild moved beside the headers under usr/src (their scripts and tools
# links follow it), and that usr/src is bind-mounted over /usr/src in a
# private mount namespace, where the headers' Makefiles expect it. Fails on
# any compiler or modpost warning, and on anything the kernel's own style
# check (checkpatch.pl of backports' linux-source-6.12, its three files
# unpacked into CACHE_DIR/checkpatch/<version>) says of the sources. Leaves the modules, without their
# debugging sections, in OUT_DIR, and prints their sizes and build time.
# KERNEL_LINE as for tests/armvm/image.sh: 6.1 (Debian 12's own) or 6.12
# (its backports suite, whose packages come through backports_apt).
# Usage: tests/armvm/modules.sh CACHE_DIR armhf|arm64|amd64 OUT_DIR [6.1|6.12]
set -euo pipefail
options=()
cache_root=$1
arch=$2
out=$3
line=${4:-6.1}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
# shellcheck source=tests/lib.sh
source "$here/../lib.sh"
case $line in
  6.1) kernel_apt=() ;;
  6.12) kernel_apt=(backports_apt) ;;
  *) echo "modules: no kernel line '$line' (6.1, 6.12)" >&2; exit 2 ;;
esac

case $arch in
  # Debian's modpost for 32-bit modules, built on a 64-bit host, sizes the
  # device-tree table for 64-bit pointers: no module alias from that table.
  armhf) flavour=armmp-lpae karch=arm cross=arm-linux-gnueabihf- options=(DORMIX_GPIO_NO_OF_ALIAS=y) ;;
  arm64) flavour=arm64 karch=arm64 cross=aarch64-linux-gnu- ;;
  amd64) flavour=amd64 karch=x86 cross= ;;
  *) echo "modules: no guest for architecture '$arch' (armhf, arm64, amd64)" >&2; exit 2 ;;
esac
image_dir=$("$here/image.sh" "$cache_root" "$arch" "$line")
# e.g. "linux-image-6.1.0-50-armmp-lpae:armhf=6.1.176-1" -> 6.1.0-50 6.1.176-1
kernel=$(sed -n "s/^linux-image-\(.*\)-$flavour\(:$arch\)\{0,1\}=\(.*\)\$/\1 \3/p" "$image_dir/versions")
[[ -n $kernel ]] || { echo "modules: no kernel named in $image_dir/versions" >&2; exit 1; }
read -r abi version <<<"$kernel"
release=$abi-$flavour
# The headers name their kbuild: linux-kbuild-6.1, linux-kbuild-6.12.95+deb12.
series=$("${kernel_apt[@]}" apt-cache depends "linux-headers-$release:$arch=$version" |
  sed -n 's/^ *Depends: linux-kbuild-\([^:]*\).*/\1/p' | head -n1)
kbuild_version=$("${kernel_apt[@]}" apt-cache policy "linux-kbuild-$series" | sed -n 's/^  Candidate: //p')
[[ -n $series && -n $kbuild_version && $kbuild_version != "(none)" ]] ||
  { echo "modules: no candidate for the kbuild of linux-headers-$release" >&2; exit 1; }
tree=$cache_root/kernel-headers/$release-$version-kbuild-$kbuild_version

if [[ ! -d $tree/usr/src/linux-headers-$release ]]; then
  mkdir -p "$cache_root/kernel-headers"
  work=$(mktemp -d "$cache_root/kernel-headers/.unpacking.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && "${kernel_apt[@]}" apt-get download -q=2 "linux-headers-$release:$arch=$version" \
    "linux-headers-$abi-common=$version" "linux-kbuild-$series=$kbuild_version") \
    2> >(grep -v 'unsandboxed as root' >&2)
  for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
  src=$work/root/usr/src
  rm -f "$src/linux-kbuild-$series"
  mv "$work/root/usr/lib/linux-kbuild-$series" "$src/linux-kbuild-$series"
  for dir in "$src/linux-headers-$release" "$src/linux-headers-$abi-common"; do
    for link in scripts tools; do
      [[ -L $dir/$link ]] && ln -sfn "../linux-kbuild-$series/$link" "$dir/$link"
    done
  done
  mkdir -p "$work/tree/usr"
  mv "$src" "$work/tree/usr/src"
  rm -rf "$tree"
  mv "$work/tree" "$tree"
fi

# The kernel's style check, from the newest kernel source Debian 12 offers.
source_version=$(backports_apt apt-cache policy linux-source-6.12 | sed -n 's/^  Candidate: //p')
checkpatch=$cache_root/checkpatch/$source_version/scripts/checkpatch.pl
if [[ ! -f $checkpatch ]]; then
  mkdir -p "$cache_root/checkpatch"
  work=$(mktemp -d "$cache_root/checkpatch/.unpacking.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && backports_apt apt-get download -q=2 "linux-source-6.12=$source_version") \
    2> >(grep -v 'unsandboxed as root' >&2)
  dpkg-deb --fsys-tarfile "$work"/linux-source-6.12_*.deb |
    tar -xO ./usr/src/linux-source-6.12.tar.xz | xz -dc |
    tar -x -C "$work" --strip-components=1 linux-source-6.12/scripts/checkpatch.pl \
      linux-source-6.12/scripts/spelling.txt linux-source-6.12/scripts/const_structs.checkpatch
  rm -rf "${checkpatch%/scripts/*}"
  mkdir -p "${checkpatch%/scripts/*}"
  mv "$work/scripts" "${checkpatch%/scripts/*}/"
fi
for source in "$source_dir/kernel/dormix_gpio/dormix_gpio.c" "$here/testchip/dormix_testchip.c"; do
  report=$(perl "$checkpatch" --no-tree --terse --quiet -f "$source") ||
    { echo "$report" >&2; echo "modules: checkpatch.pl finds fault with $source" >&2; exit 1; }
done

# Each module is built in a copy of its sources under OUT_DIR, so that the
# guests' builds never share an object directory.
mkdir -p "$out"
out=$(cd "$out" && pwd)
started=$SECONDS
for module in "$source_dir/kernel/dormix_gpio" "$here/testchip"; do
  name=$(basename "$module")
  rm -rf "$out/build-$name"
  cp -r "$module" "$out/build-$name"
  # shellcheck disable=SC2016 # expanded by the inner shell
  unshare -m --propagation private sh -c \
    'mount --bind "$1" /usr/src && shift && exec make -s -j2 "$@"' modules \
    "$tree/usr/src" -C "/usr/src/linux-headers-$release" M="$out/build-$name" \
    ARCH="$karch" CROSS_COMPILE="$cross" "${options[@]}" modules >"$out/build-$name.log" 2>&1 ||
    { cat "$out/build-$name.log" >&2; echo "modules: $name failed to build for $release" >&2; exit 1; }
  if grep -qi 'warning' "$out/build-$name.log"; then
    cat "$out/build-$name.log" >&2
    echo "modules: $name built with warnings for $release" >&2
    exit 1
  fi
  # The guests load them without their debugging sections.
  "${cross}strip" --strip-debug -o "$out/$(basename "$out/build-$name"/*.ko)" "$out/build-$name"/*.ko
done
sizes=$(cd "$out" && stat -c '%n %s bytes' -- *.ko | paste -sd, | sed 's/,/, /g')
echo "modules: built for $release in $((SECONDS - started)) s: $sizes (debugging sections stripped)"
