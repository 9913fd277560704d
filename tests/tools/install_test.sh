#!/usr/bin/env bash
# "cmake --install" into a staging DESTDIR lays out the whole product, and
# never overwrites the operator's settings file.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

# A machine without these reports the test skipped, with the reason.
for command in dash; do
  command -v "$command" >/dev/null || { echo "SKIPPED: $command is not installed"; exit 77; }
done
build_dir=$1
source_dir=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
source "$(dirname "$0")/../lib.sh"

install_tree() {
  DESTDIR=$stage cmake --install "$build_dir" --prefix /usr >"$stage.log" 2>&1 ||
    { cat "$stage.log" >&2; fail "cmake --install failed"; }
  rm -f "$stage.log"
}

install_tree
expected=(
  "755 usr/sbin/dormix"
  "755 usr/sbin/dormix-check"
  "755 usr/lib/cgi-bin/dormix-web"
  "644 usr/share/man/man8/dormix.8"
  "644 usr/share/man/man8/dormix-check.8"
  "644 usr/share/man/man8/dormix-web.8"
  "644 usr/share/man/man5/dormix-settings.5"
  "644 opt/dormix/etc/settings.sample"
  "644 opt/dormix/etc/settings"
  "644 usr/lib/systemd/system/dormix.service"
  "755 etc/init.d/dormix"
)
for entry in "${expected[@]}"; do
  mode=${entry%% *}
  path=${entry#* }
  if [[ ! -f $stage/$path ]]; then
    fail "not installed: $path"
  elif [[ $(stat -c %a "$stage/$path") != "$mode" ]]; then
    fail "$path has mode $(stat -c %a "$stage/$path"), not $mode"
  fi
done
# The init scripts' helpers: links to the checker, and to its page.
for link in usr/sbin/dormix-enabled usr/sbin/dormix-wait-clock usr/share/man/man8/dormix-enabled.8 \
  usr/share/man/man8/dormix-wait-clock.8; do
  [[ $(readlink "$stage/$link") == dormix-check* && -f $stage/$link ]] ||
    fail "$link is not a link to the checker or its page"
done
unexpected=$(cd "$stage" && find . -type f | sed 's|^\./||' | sort |
  grep -vxF -f <(printf '%s\n' "${expected[@]#* }"))
[[ -z $unexpected ]] || fail "installed beyond the list: $unexpected"

cmp -s "$stage/opt/dormix/etc/settings" "$source_dir/packaging/settings.sample" ||
  fail "the first install does not put the sample in place"
"$stage/usr/sbin/dormix-check" --inputs 0,1 "$stage/opt/dormix/etc/settings" >/dev/null ||
  fail "the installed checker finds the installed settings not clean"

# The init files name the installed paths.
unit=$stage/usr/lib/systemd/system/dormix.service
grep -qx 'Type=simple' "$unit" || fail "unit: not Type=simple"
grep -qx 'Restart=on-failure' "$unit" || fail "unit: no Restart=on-failure"
grep -qx 'ExecStart=/usr/sbin/dormix' "$unit" || fail "unit: ExecStart is not /usr/sbin/dormix"
grep -q '^ExecCondition=.*/usr/sbin/dormix-check --quiet /opt/dormix/etc/settings' "$unit" ||
  fail "unit: no ExecCondition checking the settings"
grep -qx 'ExecCondition=/usr/sbin/dormix-enabled /opt/dormix/etc/settings' "$unit" ||
  fail "unit: no ExecCondition on the module switch"
grep -qx 'After=time-sync.target' "$unit" && grep -qx 'Wants=time-sync.target' "$unit" ||
  fail "unit: not ordered after time-sync.target"
init=$stage/etc/init.d/dormix
grep -qx 'DAEMON=/usr/sbin/dormix' "$init" || fail "init script: DAEMON is not /usr/sbin/dormix"
grep -qx 'WAIT_CLOCK=/usr/sbin/dormix-wait-clock' "$init" &&
  grep -q 'start-stop-daemon -S .*-x "$WAIT_CLOCK" --' "$init" &&
  grep -q -- '"$CLOCK_WAIT" "$DAEMON"' "$init" ||
  fail "init script does not start the daemon through the clock wait"
grep -q '@[A-Z]*@' "$unit" "$init" && fail "placeholders left in the init files"
for script in "$init" "$source_dir"/packaging/dormix.init.*.in "$source_dir"/debian/dormix.post*; do
  sh -n "$script" || fail "$script: shell syntax"
  dash -n "$script" 2>/dev/null || fail "$script: not POSIX shell"
done
if command -v systemd-analyze >/dev/null; then
  # Only the unit's own syntax: its binaries live in the staging tree.
  messages=$(systemd-analyze verify --man=no "$unit" 2>&1 | grep -v 'is not executable\|No such file\|Command .* is not')
  [[ -z $messages ]] || fail "systemd-analyze: $messages"
fi

# A second install refreshes the sample and keeps the operator's settings.
printf 'MOD_DORMIX_ENABLED=1\n' >"$stage/opt/dormix/etc/settings"
echo changed >"$stage/opt/dormix/etc/settings.sample"
install_tree
[[ $(cat "$stage/opt/dormix/etc/settings") == MOD_DORMIX_ENABLED=1 ]] ||
  fail "a second install overwrote the settings file"
cmp -s "$stage/opt/dormix/etc/settings.sample" "$source_dir/packaging/settings.sample" ||
  fail "a second install did not refresh the sample"

finish "install_tree: all"
