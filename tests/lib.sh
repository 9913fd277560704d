# Shared by the test stages and the shell tests: package installs and
# counting failures.

# fail MESSAGE: reports a failure and counts it; the test goes on.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# finish NAME: exits 1 if anything failed, else says NAME passed.
finish() {
  if [[ $failures -ne 0 ]]; then
    echo "$failures failures" >&2
    exit 1
  fi
  echo "$1 passed"
}

# Installs Debian packages that are missing.
# Usage: need_packages NAME...
need_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  if [ -z "${DORMIX_APT_UPDATED:-}" ]; then
    update_package_lists
    export DORMIX_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Packages every build needs.
need_build_packages() {
  need_packages g++ cmake make libgtest-dev libgmock-dev
}

# Runs ctest with the given arguments, its output also written to LOG. Fails
# when a test failed or was skipped: each stage installs everything its tests
# need, so a skip means a test did not run that should have.
# Usage: run_tests_no_skips LOG CTEST_ARGUMENT...
run_tests_no_skips() {
  local log=$1
  shift
  ctest "$@" | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || return 1
  if grep -q 'Skipped\|Not Run' "$log"; then
    echo "tests were skipped (ctest $*); see $log" >&2
    return 1
  fi
}

# Lets packages of a foreign architecture (e.g. musl-dev:armhf) be installed.
# Usage: need_foreign_architecture ARCH...
need_foreign_architecture() {
  local added=0
  for arch in "$@"; do
    dpkg --print-foreign-architectures | grep -qx "$arch" && continue
    dpkg --add-architecture "$arch"
    added=1
  done
  [ "$added" -eq 0 ] && return 0
  update_package_lists
  export DORMIX_APT_UPDATED=1
}

# apt-get update. A list the mirror serves half-synced ("File has unexpected
# size") leaves the others updated: what is needed from it fails at the
# install, with apt's own message, and everything else goes on.
update_package_lists() {
  apt-get -o DPkg::Lock::Timeout=600 update -qq >/dev/null 2>"${TMPDIR:-/tmp}/dormix-apt-update.log" ||
    sed 's/^/apt-get update (going on): /' "${TMPDIR:-/tmp}/dormix-apt-update.log" >&2
}

# Unpacks Debian packages (e.g. libfuse3-dev:armhf) into DIR/root without
# installing them. A multiarch install needs every shared dependency at the
# host's version, which a mirror whose lists of one architecture lag behind
# refuses; an unpacked tree needs only the packages themselves.
# Usage: unpack_packages DIR PACKAGE...
unpack_packages() {
  local dir=$1
  shift
  rm -rf "$dir"
  mkdir -p "$dir/debs" "$dir/root"
  (cd "$dir/debs" && apt-get download -q=2 "$@") 2> >(grep -v 'unsandboxed as root' >&2) || return 1
  for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/root"; done
  # Absolute links (libfoo.so -> /lib/...) point into the tree instead.
  local root link target
  root=$(cd "$dir/root" && pwd)
  find "$root" -type l -lname '/*' | while IFS= read -r link; do
    target=$(readlink "$link")
    ln -sfn "$root$target" "$link"
  done
}

# Prints the host's Debian mirror and the key that signs it, on one line:
# those of the first deb822 stanza in /etc/apt/sources.list.d whose suites
# include bookworm itself, else of a one-line "deb" entry for bookworm there
# or in /etc/apt/sources.list (without a signed-by, Debian's keyring). The
# scripts that need another suite, the sources or a new root take the
# mirror from here, so that the tree names none. Fails when there is none.
# Usage: entry=$(host_mirror) && read -r mirror key <<<"$entry"
host_mirror() {
  local entry mirror key
  entry=$(awk -v RS= '/\nSuites:[^\n]*bookworm( |\n|$)/ { print; exit }' \
    /etc/apt/sources.list.d/*.sources 2>/dev/null)
  mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' <<<"$entry")
  key=$(sed -n 's/^Signed-By: *//p' <<<"$entry")
  if [[ -z $mirror ]]; then
    entry=$(cat /etc/apt/sources.list.d/*.list /etc/apt/sources.list 2>/dev/null |
      grep -m1 '^deb \(\[[^]]*\] \)\{0,1\}[^ ]* bookworm ')
    mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) .*/\2/p' <<<"$entry")
    key=$(sed -n 's/^deb \[[^]]*signed-by=\([^] ]*\).*/\1/p' <<<"$entry")
  fi
  [[ -n $mirror ]] || { echo "no Debian bookworm entry in the host's apt sources" >&2; return 1; }
  echo "$mirror ${key:-/usr/share/keyrings/debian-archive-keyring.gpg}"
}

# Runs apt-get or apt-cache on Debian 12's backports suite (bookworm-backports,
# e.g. its 6.12 kernels) through a private source list, lists and caches in
# DORMIX_BACKPORTS_APT (default /var/cache/dormix-backports-apt), for the
# host's architecture and armhf, arm64 and amd64, whatever dpkg's foreign
# architectures are. The mirror and its key are host_mirror's; nothing of
# the host's apt configuration or state changes. The lists are fetched on
# first use and again when older than 6 hours (the older ones serve if that
# fails).
# Usage: backports_apt apt-get|apt-cache ARGUMENT...
# e.g.   backports_apt apt-cache policy linux-image-arm64:arm64
backports_apt() {
  local tool=$1 dir=${DORMIX_BACKPORTS_APT:-/var/cache/dormix-backports-apt} host
  shift
  host=$(dpkg --print-architecture)
  local options=(-o "Dir::Etc::SourceList=$dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o "Dir::State::Lists=$dir/lists" -o "Dir::Cache=$dir/cache" -o "APT::Architecture=$host"
    -o "APT::Architectures::=$host" -o APT::Architectures::=amd64 -o APT::Architectures::=armhf
    -o APT::Architectures::=arm64)
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  (
    flock 9
    [[ -n $(find "$dir/lists/updated" -mmin -360 2>/dev/null) ]] && exit 0
    local entry mirror key
    entry=$(host_mirror) || exit 1
    read -r mirror key <<<"$entry"
    echo "deb [signed-by=$key] $mirror bookworm-backports main" >"$dir/sources.list"
    if apt-get "${options[@]}" -q=2 update >&2; then
      touch "$dir/lists/updated"
    else
      # Older lists serve until the mirror answers again.
      [[ -f $dir/lists/updated ]] && echo "backports_apt: going on with the older lists" >&2
    fi
  ) 9>"$dir/lock" || return 1
  "$tool" "${options[@]}" "$@"
}
