#!/usr/bin/env bash
# Release archives of the static builds: for each target a .tar.gz with the
# daemon and dormix-check (static, stripped), the man pages, both init
# scripts (procd for OpenWrt, sysvinit for the rest) and the sample
# settings, plus SHA256SUMS over the archives.
# Usage: packaging/release.sh [OUTPUT_DIR] [PRESET...]
#   default: build/release, and the four *-static presets.
# Reuses each preset's build directory; builds only the daemon and the checker.
set -euo pipefail
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
  local stage=$build/release/$name
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target dormix dormix-check >/dev/null
  rm -rf "$build/release"
  # Installs the procd script as etc/init.d/dormix (the presets choose procd).
  DESTDIR=$PWD/$stage/root cmake --install "$build" --prefix /usr --strip >/dev/null

  mkdir -p "$stage/sbin" "$stage/man" "$stage/init/procd" "$stage/init/sysvinit"
  mv "$stage/root/usr/sbin/dormix" "$stage/root/usr/sbin/dormix-check" "$stage/sbin/"
  mv "$stage/root/usr/share/man/man5" "$stage/root/usr/share/man/man8" "$stage/man/"
  mv "$stage/root/etc/init.d/dormix" "$stage/init/procd/dormix"
  mv "$stage/root/opt/dormix/etc/settings.sample" "$stage/settings.sample"
  cmake -DDORMIX_SOURCE="$PWD/packaging/dormix.init.sysv.in" \
    -DDORMIX_DESTINATION="$PWD/$stage/init/sysvinit" -DDORMIX_NAME=dormix \
    -DDORMIX_PERMISSIONS="OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_READ;GROUP_EXECUTE;WORLD_READ;WORLD_EXECUTE" \
    -DDORMIX_SBINDIR=sbin -DDORMIX_BINARY_DIR="$PWD/$build/release" -DCMAKE_INSTALL_PREFIX=/usr \
    -P packaging/install_configured.cmake
  rm -rf "$stage/root" "$build/release/install-time"

  tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
    -C "$build/release" -cf - "$name" | gzip -9n >"$output/$name.tar.gz"
  echo "$output/$name.tar.gz"
}

archives=()
for preset in "${presets[@]}"; do archives+=("$(archive_target "$preset")"); done
(cd "$output" && sha256sum -- "${archives[@]##*/}" >SHA256SUMS)
echo "$output/SHA256SUMS"
