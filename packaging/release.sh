#!/usr/bin/env bash
# Release archives of the static builds: for each target a .tar.gz that
# unpacks as one tree under /opt/dormix ("tar -xzf ... -C /"): the daemon
# and dormix-check (static, stripped) in sbin/, the settings page dormix-web
# in www/cgi-bin/, the man pages in man/, both
# init scripts (init/procd for OpenWrt, init/sysvinit for the rest), naming
# /opt/dormix/sbin, OpenWrt's NTP hotplug handler and sysupgrade keep file
# (init/procd/dormix.ntp-hotplug, init/procd/dormix.keep), and
# etc/settings.sample; plus SHA256SUMS over the
# archives. The settings file itself is not in it: unpacking an upgrade
# keeps the operator's. The board side, for firmware without a low-power
# tool, status tool or GPIO driver of its own, has a subtree of its own,
# board/: sbin/dormix-lpm, bin/dormix-status, their man pages,
# etc/lpm.sample, etc/gpio.sample (the driver's lines) and the source of the dormix_gpio module in src/; nothing
# there is linked into the firmware's paths by unpacking.
# Usage: packaging/release.sh [OUTPUT_DIR] [PRESET...]
#   default: build/release, and the four *-static presets.
# Reuses each preset's build directory; builds only the shipped programs.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."

output=${1:-build/release}
shift || true
presets=("$@")
[[ ${#presets[@]} -eq 0 ]] && presets=(x86-64-static armhf-static armel-static arm64-static)

version=$(sed -n 's/^project(dormix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
mkdir -p "$output"
output=$(cd "$output" && pwd)

# Everything in the archive belongs to root and carries the commit's time, so
# that the same sources give the same archive.
epoch=$(git log -1 --format=%ct 2>/dev/null || echo 0)

archive_target() {
  local preset=$1
  local build=build/$preset
  local name=dormix-$version-${preset%-static}
  local stage=$build/release
  local tree=$stage/root/opt/dormix
  cmake --preset "$preset" -DDORMIX_CGI_DIR=www/cgi-bin >/dev/null
  cmake --build --preset "$preset" --target dormix dormix-check dormix-web dormix-lpm \
    dormix-status >/dev/null
  rm -rf "$stage"
  # Installs the procd script as etc/init.d/dormix (the presets choose procd).
  DESTDIR=$PWD/$stage/root cmake --install "$build" --prefix /opt/dormix --strip >/dev/null

  mkdir -p "$tree/init/procd" "$tree/init/sysvinit"
  mv "$tree/share/man" "$tree/man"
  rmdir "$tree/share"
  mv "$stage/root/etc/init.d/dormix" "$tree/init/procd/dormix"
  install -m 755 packaging/dormix.ntp-hotplug "$tree/init/procd/"
  install -m 644 packaging/dormix.keep "$tree/init/procd/"
  rm -r "$stage/root/etc" "$tree/etc/settings"
  cmake -DDORMIX_SOURCE="$PWD/packaging/dormix.init.sysv.in" \
    -DDORMIX_DESTINATION="$PWD/$tree/init/sysvinit" -DDORMIX_NAME=dormix \
    -DDORMIX_PERMISSIONS="OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_READ;GROUP_EXECUTE;WORLD_READ;WORLD_EXECUTE" \
    -DDORMIX_SBINDIR=sbin -DDORMIX_BINARY_DIR="$PWD/$stage" -DCMAKE_INSTALL_PREFIX=/opt/dormix \
    -P packaging/install_configured.cmake
  rm -rf "$stage/install-time"

  local board=$tree/board
  DESTDIR=$PWD/$stage/root cmake --install "$build" --prefix /opt/dormix/board --component board \
    --strip >/dev/null
  mv "$board/share/man" "$board/man"
  rmdir "$board/share"
  mkdir -p "$board/etc"
  mv "$tree/etc/lpm.sample" "$tree/etc/gpio.sample" "$board/etc/"
  if [[ -d kernel/dormix_gpio ]]; then
    mkdir -p "$board/src"
    cp -r kernel/dormix_gpio "$board/src/dormix_gpio"
  fi

  tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
    -C "$stage/root" -cf - opt/dormix | gzip -9n >"$output/$name.tar.gz"
  echo "$output/$name.tar.gz"
}

archives=()
for preset in "${presets[@]}"; do archives+=("$(archive_target "$preset")"); done
(cd "$output" && sha256sum -- "${archives[@]##*/}" >SHA256SUMS)
echo "$output/SHA256SUMS"
