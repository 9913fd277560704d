# Debian packages: built by dpkg-buildpackage for amd64 and, cross, for armhf;
# their contents and lintian's verdict; the systemd unit's sandbox rated by
# systemd-analyze; and the amd64 package's life cycle and sysvinit script run
# for real in a throwaway root (tests/packages/throwaway_root.sh); both
# packages with DKMS in Debian 12 and 13 roots (board_test.sh). Then the
# static release archive's init scripts: the sysvinit script in a root that
# holds only busybox, the procd script on a stand-in of OpenWrt's procd side
# in such a root, and what two OpenWrt sysupgrades keep of the install.
set -euo pipefail
source tests/lib.sh
# dpkg-shlibdeps reads the dependencies of the armhf programs from armhf's own
# C library and libgcc_s, installed beside the host's (multiarch).
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  dpkg --add-architecture armhf
  unset DORMIX_APT_UPDATED
fi
need_packages build-essential debhelper cmake dpkg-dev lintian shellcheck systemd python3 \
  g++-arm-linux-gnueabihf libc6:armhf libgcc-s1:armhf musl-dev musl-tools

work=build/packages
rm -rf "$work"
mkdir -p "$work/release/src" "$work/upgrade/src"

# dpkg-buildpackage writes into the tree and beside it: each build gets a copy
# of the tracked files, and leaves its packages in the copy's parent.
copy_tree() {
  git ls-files -co --exclude-standard | while IFS= read -r file; do
    [[ -e $file ]] && printf '%s\0' "$file"
  done | tar --null -cf - -T - | tar -xf - -C "$1"
}
# The Debian 12 and 13 roots of the board package's test, made or taken from
# the cache while the packages build: mostly downloads and dpkg's work.
need_packages debootstrap
declare -A root_jobs
for suite in bookworm trixie; do
  bash tests/packages/debian_root.sh "$suite" >"$work/$suite-root" &
  root_jobs[$suite]=$!
done

copy_tree "$work/release/src"
copy_tree "$work/upgrade/src"
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
# The same sources with a higher version, for the upgrade.
upgrade_version=$version+rebuild1
{
  printf 'dormix (%s) unstable; urgency=medium\n\n  * Rebuilt for the upgrade test.\n\n' "$upgrade_version"
  printf ' -- The dormix developers <dormix@example.org>  %s\n\n' "$(date -R)"
  cat debian/changelog
} >"$work/upgrade/src/debian/changelog"

# build DIRECTORY NAME ARGUMENTS...: dpkg-buildpackage in DIRECTORY/src.
build() {
  local directory=$1 name=$2
  shift 2
  (cd "$directory/src" && DEB_BUILD_OPTIONS=parallel=2 dpkg-buildpackage -us -uc "$@") \
    >"$directory/$name.log" 2>&1 || { tail -n 40 "$directory/$name.log" >&2; return 1; }
}
build "$work/release" amd64
# The armhf and the upgrade builds side by side: both mostly wait on tools.
build "$work/release" armhf -B -aarmhf &
armhf_build=$!
build "$work/upgrade" amd64 -b &
upgrade_build=$!
wait "$armhf_build"
wait "$upgrade_build"

amd64_package=$work/release/dormix_${version}_amd64.deb
armhf_package=$work/release/dormix_${version}_armhf.deb
upgrade_package=$work/upgrade/dormix_${upgrade_version}_amd64.deb
bash tests/packages/contents_test.sh "$amd64_package" amd64 16384
bash tests/packages/contents_test.sh "$armhf_package" armhf 12288

# Any error or warning fails; each overridden tag has its reason in debian/.
# (lintian's own --fail-on counts shown overrides as failures.)
for changes in "$work"/release/dormix_"$version"_{amd64,armhf}.changes; do
  report=$changes.lintian
  lintian --pedantic --show-overrides --tag-display-limit 0 --fail-on none "$changes" >"$report" 2>&1
  count() { grep -c "^$1: " "$report" || true; }
  echo "lintian $(basename "$changes"): $(count E) errors, $(count W) warnings, $(count I) info," \
    "$(count P) pedantic, $(count O) overridden"
  if [[ $(count E) -ne 0 || $(count W) -ne 0 ]]; then
    grep '^[EW]: ' "$report" >&2
    exit 1
  fi
done

shellcheck -s sh packaging/dormix.init.sysv.in debian/dormix.postinst debian/dormix.postrm \
  debian/dormix-board.postinst debian/dormix-board.prerm debian/dormix-board.postrm
# procd scripts are run by bash or busybox ash through rc.common.
shellcheck -s bash -e SC2034,SC2154 packaging/dormix.init.procd.in
shellcheck -x tests/packages/busybox_init_test.sh tests/packages/sysupgrade_test.sh \
  tests/packages/debian_root.sh tests/procd/procd_test.sh
shellcheck -s dash tests/procd/standin/rc.common tests/procd/standin/procd.sh \
  tests/procd/standin/ubus tests/procd/standin/sysupgrade

# The unit as installed, rated without loading it.
unit=$work/dormix.service
dpkg-deb --fsys-tarfile "$amd64_package" | tar -xOf - ./lib/systemd/system/dormix.service >"$unit"
systemd-analyze security --offline=true --threshold=75 "$unit" >"$unit.security" 2>&1 ||
  { cat "$unit.security" >&2; echo "the unit's exposure is above 7.5" >&2; exit 1; }
grep 'Overall exposure level' "$unit.security"

bash tests/packages/lifecycle_test.sh "$amd64_package" "$upgrade_package" "$work/throwaway"
bash tests/packages/init_script_test.sh "$amd64_package" "$work/throwaway"

# Both packages, with DKMS, on Debian 12 and 13.
board_package=$work/release/dormix-board_${version}_amd64.deb
for suite in bookworm trixie; do
  wait "${root_jobs[$suite]}"
  bash tests/packages/board_test.sh "$(cat "$work/$suite-root")" "$amd64_package" "$board_package" \
    "$work/board-$suite"
done
# By request only (about 90 s): the default preset with Debian 13's g++ and CMake.
if [[ -n ${DORMIX_RELEASE_BUILD:-} ]]; then
  bash tests/packages/release_build_test.sh "$(cat "$work/trixie-root")" "$work/release-build"
fi

# The x86-64 release archive: its sysvinit script with busybox alone, its
# procd script on the stand-in of OpenWrt's (tests/procd/standin).
packaging/release.sh "$work/archive" x86-64-static >/dev/null
archive=$(ls "$work"/archive/dormix-*-x86-64.tar.gz)
# busybox-static only fetched and unpacked: installed, it would replace the
# host's busybox package, which conflicts with it.
mkdir -p "$work/busybox-deb"
(cd "$work/busybox-deb" && apt-get download -q=2 busybox-static) 2> >(grep -v 'unsandboxed as root' >&2)
bash tests/packages/busybox_init_test.sh "$archive" "$(ls "$work"/busybox-deb/busybox-static_*.deb)" \
  "$work/busybox"
bash tests/procd/procd_test.sh "$archive" "$(ls "$work"/busybox-deb/busybox-static_*.deb)" \
  "$work/procd"
bash tests/packages/sysupgrade_test.sh "$archive" "$work/sysupgrade"
