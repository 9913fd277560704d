#!/usr/bin/env bash
# The default preset built with a Debian release's own compiler and CMake
# (Debian 13: g++ 14, CMake 3.31) in a throwaway root over a root of that
# release (debian_root.sh): warnings are errors there, the unit tests pass,
# and a plain Release build has no warning either. Not part of CI's run
# (about a minute and a half on 2 cores); `DORMIX_RELEASE_BUILD=1 tests/run
# packages` runs it.
# Usage: release_build_test.sh RELEASE_ROOT SCRATCH_DIR   (as root, in the source tree)
set -uo pipefail
source "$(dirname "$0")/throwaway_root.sh"
enter_namespaces "$0" "$@"
source "$(dirname "$0")/../lib.sh"
make_root "$2" "$(realpath "$1")" || exit 1
release=$(. "$root/etc/os-release" && echo "Debian $VERSION_ID ($VERSION_CODENAME)")
mkdir "$root/src"
git ls-files -co --exclude-standard | while IFS= read -r file; do
  [[ -e $file ]] && printf '%s\0' "$file"
done | tar --null -cf - -T - | tar -xf - -C "$root/src"
log=$root/tmp/build.log
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  g++ cmake make libgtest-dev libgmock-dev pkg-config libfuse3-dev >"$log" 2>&1 ||
  { cat "$log" >&2; fail "apt-get install"; finish "build on $release"; }
tools="$(in_root g++ --version | head -n1), $(in_root cmake --version | head -n1)"

in_root sh -c 'cd /src && cmake --workflow --preset default' >"$log" 2>&1 ||
  { tail -n 40 "$log" >&2; fail "cmake --workflow --preset default"; }
grep -q '100% tests passed' "$log" || fail "the unit tests: $(grep 'tests passed' "$log")"
in_root sh -c 'cd /src && cmake -S . -B build/plain -DCMAKE_BUILD_TYPE=Release >/dev/null &&
  cmake --build build/plain -j 2' >"$root/tmp/plain.log" 2>&1 || fail "plain Release build"
warnings=$(grep -c 'warning:' "$log" "$root/tmp/plain.log" | awk -F: '{ n += $2 } END { print n }')
[[ $warnings -eq 0 ]] || { grep -h 'warning:' "$log" "$root/tmp/plain.log" >&2; fail "$warnings warnings"; }
echo "$release, $tools: default preset (-Werror) and plain Release built, $warnings warnings;" \
  "$(grep -o '[0-9]*% tests passed.*' "$log")"

finish "build on $release"
