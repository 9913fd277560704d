#!/usr/bin/env bash
# CPack builds a .deb for the build's architecture with the whole product,
# but without a live settings file, which its postinst creates if absent.
# Usage: package_test.sh BUILD_DIR [ARCHITECTURE]
set -uo pipefail

# A machine without these reports the test skipped, with the reason.
for command in cpack dpkg-deb dpkg-shlibdeps file; do
  command -v "$command" >/dev/null || { echo "SKIPPED: $command is not installed"; exit 77; }
done
build_dir=$1
architecture=${2:-$(dpkg --print-architecture)}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/test_lib.sh"

(cd "$build_dir" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
package=$(ls "$scratch"/dormix_*_"$architecture".deb 2>/dev/null)
[[ -f $package ]] || { ls "$scratch" >&2; echo "FAIL: no dormix_*_$architecture.deb" >&2; exit 1; }

[[ $(dpkg-deb -f "$package" Package) == dormix ]] || fail "package name"
[[ $(dpkg-deb -f "$package" Architecture) == "$architecture" ]] || fail "architecture"
grep -q 'libc6' <<<"$(dpkg-deb -f "$package" Depends)" || fail "no libc6 dependency"

dpkg-deb -c "$package" | awk '{print $2, $6}' >"$scratch/contents"
for path in ./usr/sbin/dormix ./usr/sbin/dormix-check ./usr/share/man/man8/dormix.8 \
  ./usr/share/man/man8/dormix-check.8 ./usr/share/man/man5/dormix-settings.5 \
  ./opt/dormix/etc/settings.sample ./usr/lib/systemd/system/dormix.service ./etc/init.d/dormix; do
  grep -q " $path\$" "$scratch/contents" || fail "package lacks $path"
done
grep -q ' ./opt/dormix/etc/settings$' "$scratch/contents" &&
  fail "package ships a live settings file, which an upgrade would overwrite"
grep -v '^root/root ' "$scratch/contents" && fail "files not owned by root"

dpkg-deb -e "$package" "$scratch/control"
for script in postinst prerm postrm; do
  [[ -x $scratch/control/$script ]] || fail "no $script"
done
grep -q 'settings.sample /opt/dormix/etc/settings' "$scratch/control/postinst" ||
  fail "postinst does not create the settings from the sample"

dpkg-deb -x "$package" "$scratch/root"
file "$scratch/root/usr/sbin/dormix" | grep -q stripped || fail "daemon not stripped"

finish "deb_package: $(basename "$package")"
