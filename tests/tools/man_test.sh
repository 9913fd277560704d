#!/usr/bin/env bash
# The man pages render without warnings and cover what they must.
# Usage: man_test.sh SOURCE_DIR
set -uo pipefail

# A machine without these reports the test skipped, with the reason.
for command in groff man; do
  command -v "$command" >/dev/null || { echo "SKIPPED: $command is not installed"; exit 77; }
done
source_dir=$1
man_dir=$source_dir/man
source "$(dirname "$0")/../lib.sh"

for page in dormix.8 dormix-check.8 dormix-web.8 dormix-settings.5 dormix-lpm.8 dormix-status.8; do
  file=$man_dir/$page
  warnings=$(groff -man -ww -z "$file" 2>&1)
  [[ -z $warnings ]] || fail "groff warns about $page: $warnings"
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "man warns about $page: $warnings"
  [[ $(MANWIDTH=80 man -l "$file" 2>/dev/null | wc -l) -gt 40 ]] || fail "$page renders short"
done

rendered() { MANWIDTH=200 man -l "$man_dir/$1" 2>/dev/null; }

daemon_page=$(rendered dormix.8)
for heading in NAME SYNOPSIS DESCRIPTION SIGNALS FILES "EXIT STATUS" "DAYLIGHT SAVING"; do
  grep -q "$heading" <<<"$daemon_page" || fail "dormix(8) has no $heading"
done
for phrase in SIGTERM SIGINT SIGQUIT /opt/dormix/etc/settings /usr/sbin/lpm /usr/bin/status \
  /dev/gpio "clock is set back" "fires twice" "skipped hour"; do
  grep -q -- "$phrase" <<<"$daemon_page" || fail "dormix(8) does not mention '$phrase'"
done

# Every warning the checker can give is documented.
check_page=$(rendered dormix-check.8)
codes=$(grep -ho 'WARN_[A-Z_]* = "[a-z-]*"' "$source_dir"/analysis/*.h "$source_dir"/tools/check/*.h | sed 's/.*"\(.*\)"/\1/')
[[ $(wc -w <<<"$codes") -ge 15 ]] || fail "found only $(wc -w <<<"$codes") warning codes"
for code in $codes; do
  grep -q -- "$code" <<<"$check_page" || fail "dormix-check(8) does not document $code"
done
for phrase in --at --inputs --json --quiet "EXIT STATUS" "wrong usage"; do
  grep -q -- "$phrase" <<<"$check_page" || fail "dormix-check(8) does not mention '$phrase'"
done

# Every key of the sample is described, the per-input ones with n.
settings_page=$(rendered dormix-settings.5)
for key in $(grep -o '^MOD_DORMIX_[A-Z0-9_]*' "$source_dir/packaging/settings.sample" |
  sed 's/BIN[01]_/BINn_/' | sort -u); do
  grep -q -- "$key" <<<"$settings_page" || fail "dormix-settings(5) does not describe $key"
done

# The board tools: every exit status the code defines, every key of the
# sample configuration and every method.
for tool in lpm status; do
  page=$(rendered "dormix-$tool.8")
  prefix=$(tr a-z A-Z <<<"$tool")_EXIT_
  statuses=$(grep -ho "${prefix}[A-Z_]* = [0-9]*" "$source_dir"/board/*.h | sed 's/.* = //' | sort -u)
  [[ $(wc -w <<<"$statuses") -ge 3 ]] || fail "found only $(wc -w <<<"$statuses") $tool exit statuses"
  for status in $statuses; do
    grep -qE "^ {7}$status\b" <<<"$page" || fail "dormix-$tool(8) does not document exit status $status"
  done
done
lpm_page=$(rendered dormix-lpm.8)
for key in $(sed -n 's/^#\{0,1\}\([a-z_]*\)=.*/\1/p' "$source_dir/board/lpm.sample" | sort -u) \
  suspend poweroff soft /opt/dormix/etc/lpm; do
  grep -q -- "$key" <<<"$lpm_page" || fail "dormix-lpm(8) does not describe $key"
done
# lpm's "not entered" messages begin as the page says: with the method, or
# without it for the errors found before the method is known; and -i 0's notice.
prefixes=$(grep -ho '"[^"]*not entered:' "$source_dir"/board/lpm_*.cc |
  sed 's/^\(.\)\(%s\|suspend\|soft\|poweroff\):/\1METHOD:/' | sort -u)
[[ $(wc -l <<<"$prefixes") -eq 2 ]] || fail "lpm's messages begin in other ways: $prefixes"
notice=$(sed -n 's/.*"%s: \(not entered: the wake-up time is now[^"]*\)".*/\1/p' "$source_dir"/board/lpm_run.cc)
while IFS= read -r form; do
  grep -qF -- "$form" <<<"$lpm_page" || fail "dormix-lpm(8) does not show lpm's messages as $form"
done <<<"$prefixes"$'\n'"METHOD: ${notice:-no -i 0 notice in board/lpm_run.cc}"

finish "man_pages: all"
