#!/usr/bin/env bash
# dormix-check as operators run it: exit statuses, the sample file, a bad
# file against its recorded report, JSON, and files of any content.
# Usage: check_cli_test.sh CHECKER SOURCE_DIR ENABLED WAIT_CLOCK (the last
# two: the checker as dormix-enabled and as dormix-wait-clock)
set -uo pipefail

# A machine without these reports the test skipped, with the reason.
for command in python3; do
  command -v "$command" >/dev/null || { echo "SKIPPED: $command is not installed"; exit 77; }
done
checker=$1
source_dir=$2
golden=$(dirname "$0")/golden
sample=$source_dir/packaging/settings.sample
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/../lib.sh"

enabled=$3
wait_clock=$4

# run_expecting STATUS PROGRAM ARGS...: runs it, keeps stdout and stderr.
run_expecting() {
  local expected=$1 program=$2
  shift 2
  "$program" "$@" >"$scratch/out" 2>"$scratch/err"
  local status=$?
  [[ $status -eq $expected ]] ||
    fail "${program##*/} $* exited $status, not $expected: $(cat "$scratch/err")"
}
# expect_status STATUS ARGS...: the same for dormix-check.
expect_status() { run_expecting "$1" "$checker" "${@:2}"; }

# The sample is clean wherever it is checked, and sets every key.
[[ -f /usr/share/zoneinfo/Europe/Berlin ]] || { echo "SKIPPED: tzdata is not installed"; exit 77; }
for zone in UTC Europe/Berlin America/New_York; do
  TZ=$zone expect_status 0 --inputs 0,1 "$sample"
  TZ=$zone expect_status 0 "$sample"
done
grep -q '^no warnings$' "$scratch/out" || fail "sample: no 'no warnings' line"
if [[ ! -x /usr/bin/status ]]; then
  grep -q '/usr/bin/status is missing here' "$scratch/out" ||
    fail "without --inputs and without the status tool, the report does not say so"
fi
expect_status 0 --json --inputs 0,1 "$sample"
python3 - "$scratch/out" <<'PY' || fail "sample JSON"
import json, sys
report = json.load(open(sys.argv[1]))
assert len(report["settings"]) == 18, report["settings"]
assert all(s["source"] == "file" for s in report["settings"]), report["settings"]
assert report["warnings"] == [], report["warnings"]
assert report["call_now"] == {"runs": False, "logs": "Router does not go to sleep mode, without rules for wake up."}
PY

# A bad file: every line-level mistake and the daylight-saving days, against
# the recorded report.
(
  cd "$golden" &&
    TZ=Europe/Berlin "$checker" --at "2026-06-01 12:00:00" --inputs 0 bad.settings >"$scratch/bad.out"
  echo $? >"$scratch/bad.status"
)
[[ $(cat "$scratch/bad.status") -eq 1 ]] || fail "bad file: exit $(cat "$scratch/bad.status"), not 1"
diff -u "$golden/bad.out" "$scratch/bad.out" || fail "bad file: report differs from golden/bad.out"
(
  cd "$golden" &&
    TZ=Europe/Berlin "$checker" --json --at "2026-06-01 12:00:00" --inputs 0 bad.settings >"$scratch/bad.json"
)
python3 - "$scratch/bad.json" "$scratch/bad.out" <<'PY' || fail "bad file JSON"
import json, re, sys
report = json.load(open(sys.argv[1]))
text_codes = re.findall(r"^bad\.settings:(\d+): .* \[([a-z-]+)\]$", open(sys.argv[2]).read(), re.M)
json_codes = [(str(w["line"]), w["code"]) for w in report["warnings"]]
assert json_codes == text_codes, (json_codes, text_codes)
settings = {s["key"]: s for s in report["settings"]}
assert settings["MOD_DORMIX_SLEEP_TIME0_HOUR"] == {"key": "MOD_DORMIX_SLEEP_TIME0_HOUR", "value": 2, "source": "file", "line": 4}
assert settings["MOD_DORMIX_WAKEUP_BIN_ENABLED"]["source"] == "default"
assert settings["MOD_DORMIX_SLEEP_BIN1_STATE"]["source"] == "not-read"
assert report["rules"]["time_of_day"]["next"] == "2026-06-02 02:30:00 CEST"
assert report["time_zone"] == {"zone": "Europe/Berlin", "source": "TZ"}, report["time_zone"]
PY
(cd "$golden" && TZ=Europe/Berlin "$checker" -q --at "2026-06-01 12:00:00" --inputs 0 bad.settings) >"$scratch/quiet"
diff <(grep '^bad.settings:' "$scratch/bad.out") "$scratch/quiet" >/dev/null ||
  fail "--quiet does not print exactly the warnings"

# File names in JSON: UTF-8 as it is, each byte that is not part of a
# well-formed sequence as U+FFFD, and the whole a valid JSON document.
utf8_name=$(printf 'caf\xc3\xa9-\xe2\x82\xac.settings')
broken_name=$(printf 'x\xff\xe2\x82-\xed\xa0\x80.settings')
printf 'MOD_DORMIX_ENABLED=1\n' >"$scratch/$utf8_name"
printf 'MOD_DORMIX_ENABLED=1\n' >"$scratch/$broken_name"
(cd "$scratch" && "$checker" --json --inputs none "$utf8_name" >utf8.json && "$checker" --json --inputs none "$broken_name" >broken.json) ||
  fail "non-ASCII file names: not clean"
python3 - "$scratch/utf8.json" "$scratch/broken.json" <<'PY' || fail "non-ASCII file names in JSON"
import json, sys
utf8_raw = open(sys.argv[1], "rb").read()
assert "café-€.settings".encode() in utf8_raw, utf8_raw[:80]
assert json.loads(utf8_raw.decode("utf-8"))["file"] == "café-€.settings"
broken = json.loads(open(sys.argv[2], "rb").read().decode("utf-8"))
assert broken["file"] == "x\ufffd\ufffd\ufffd-\ufffd\ufffd\ufffd.settings", broken["file"]
PY

# The command line a firing runs now.
printf 'MOD_DORMIX_WAKEUP_BIN_ENABLED=1\nMOD_DORMIX_WAKEUP_TIME0_ENABLED=1\nMOD_DORMIX_WAKEUP_TIME0_HOUR=10\nMOD_DORMIX_WAKEUP_TIME0_MINUTE=5\n' >"$scratch/wake"
TZ=UTC expect_status 0 --at "2026-06-01 10:00:20" --inputs none "$scratch/wake"
grep -q '^a firing now (2026-06-01 10:00:20 UTC) runs: /usr/sbin/lpm -b -i 280$' "$scratch/out" ||
  fail "lpm command line: $(grep firing "$scratch/out")"

# Unusable input and wrong usage: status 2, a message on stderr, no report.
mkdir "$scratch/directory"
unusable=(
  "$scratch/no-such-file"
  "$scratch/directory"
  "--no-such-option $sample"
  "--at $sample"
  "--at=2026-13-01_00:00:00 $sample"
  "--inputs 2 $sample"
  "--inputs 0,,1 $sample"
  "--inputs"
  "$sample $sample"
)
for arguments in "${unusable[@]}"; do
  # shellcheck disable=SC2086 # the table holds word lists
  expect_status 2 $arguments
  [[ -s $scratch/err ]] || fail "dormix-check $arguments: nothing on stderr"
  [[ ! -s $scratch/out ]] || fail "dormix-check $arguments: printed a report"
done
for arguments in "--now --json" "--now --inputs 0" "--watch --at 2026-06-01_00:00:00"; do
  # shellcheck disable=SC2086 # word lists
  expect_status 2 $arguments "$sample"
  grep -q -- '--now looks at this router now' "$scratch/err" || fail "dormix-check $arguments: $(cat "$scratch/err")"
done
TZ=Europe/Berlin expect_status 2 --at "2027-03-28 02:30:00" "$sample"
grep -q 'does not exist\|clock shows' "$scratch/err" || fail "skipped --at time: $(cat "$scratch/err")"
expect_status 0 --help
grep -q '^usage: dormix-check' "$scratch/out" || fail "--help prints no usage"

# dormix-enabled: the module switch by the daemon's reading; 0 on, 1 off.
# The previous release's "dormix-check --enabled" answers the same.
switch_cases=(
  "0|MOD_DORMIX_ENABLED=1"
  "0|mod_dormix_enabled=\"2\""
  "0|MOD_DORMIX_ENABLED=-1"
  "0|MOD_DORMIX_ENABLED=1 trailing"
  "1|MOD_DORMIX_ENABLED=0"
  "1|MOD_DORMIX_ENABLED =1"
  "1|# MOD_DORMIX_ENABLED=1"
  "1|MOD_DORMIX_ENABLED=on"
  "1|MOD_DORMIX_ENABLED=0\nMOD_DORMIX_ENABLED=1"
  "1|MOD_DORMIX_WAKEUP_BIN_ENABLED=1"
)
for case in "${switch_cases[@]}"; do
  printf '%b\n' "${case#*|}" >"$scratch/switch"
  run_expecting "${case%%|*}" "$enabled" "$scratch/switch"
  expect_status "${case%%|*}" --enabled "$scratch/switch"
done
run_expecting 1 "$enabled" "$scratch/no-such-file"
grep -q '^switched off: cannot open' "$scratch/out" || fail "dormix-enabled without a file: $(cat "$scratch/out")"
# Wrong usage, under each name: status 2, the name's own message and usage.
# dormix-wait-clock: whole seconds.
usage_cases=(
  "enabled|$sample $sample|dormix-enabled: takes at most one file|usage: dormix-enabled [FILE]"
  "checker|--enabled $sample $sample|dormix-check: --enabled takes at most one file|usage: dormix-check --enabled [FILE]"
  "wait_clock||dormix-wait-clock: needs a number of seconds|usage: dormix-wait-clock SECONDS"
  "checker|--wait-for-clock|dormix-check: --wait-for-clock needs a number of seconds|usage: dormix-check --wait-for-clock SECONDS"
)
for seconds in x -1 86401 1s; do
  usage_cases+=("wait_clock|$seconds|dormix-wait-clock: takes whole seconds from 0 to 86400|usage: dormix-wait-clock SECONDS"
    "checker|--wait-for-clock $seconds|dormix-check: --wait-for-clock takes whole seconds from 0 to 86400|usage: dormix-check --wait-for-clock SECONDS")
done
for case in "${usage_cases[@]}"; do
  IFS='|' read -r program arguments message usage <<<"$case"
  # shellcheck disable=SC2086 # word lists
  run_expecting 2 "${!program}" $arguments
  [[ $(sed -n 1p "$scratch/err") == "$message" && $(sed -n 2p "$scratch/err") == "$usage"* ]] ||
    fail "$program $arguments: $(cat "$scratch/err")"
done
# 0 answers at once with the kernel's state, on stderr after the name.
for case in "dormix-wait-clock|$wait_clock" "dormix-check|$checker --wait-for-clock"; do
  name=${case%%|*}
  command=${case#*|}
  # shellcheck disable=SC2086 # the program and its option
  $command 0 >/dev/null 2>"$scratch/err"
  status=$?
  if [[ $status -gt 1 ]] || ! grep -q "^$name: the clock is" "$scratch/err"; then
    fail "$name 0: status $status, $(cat "$scratch/err")"
  fi
  # With a program to run, an init system's process: the verdict goes to the
  # system log alone, at its own level, for procd's "stderr 1" would log it
  # again as an error.
  # shellcheck disable=SC2086 # the program and its option
  $command 0 /bin/true >/dev/null 2>"$scratch/err" || fail "$name 0 /bin/true: status $?"
  [[ ! -s $scratch/err ]] || fail "$name with a program wrote to stderr: $(cat "$scratch/err")"
  # shellcheck disable=SC2086 # the program and its option
  $command 0 "$scratch/no-such-program" >/dev/null 2>"$scratch/err"
  status=$?
  [[ $status -eq 2 ]] && grep -q "^$name: cannot run $scratch/no-such-program" "$scratch/err" ||
    fail "$name 0 with a missing program: status $status, $(cat "$scratch/err")"
done

# --now: a settings file that others can change is a warning, with the reason.
mkdir -m 0777 "$scratch/open"
cp "$sample" "$scratch/open/settings"
chmod 0666 "$scratch/open/settings"
expect_status 1 --now "$scratch/open/settings"
grep -q "^warning: $scratch/open/settings (the settings file) is .*writable by its group and by everyone (mode 0666): the daemon runs as root" "$scratch/out" ||
  fail "--now: no warning about the settings file: $(cat "$scratch/out")"
grep -q "^warning: $scratch/open, a directory above $scratch/open/settings (the settings file), is .*writable by its group and by everyone (mode 0777)" "$scratch/out" ||
  fail "--now: no warning about its directory"
grep -q '^input 0: ' "$scratch/out" || fail "--now: no line about input 0"

# Files of any content: a report, never a crash.
head -c 0 /dev/null >"$scratch/empty"
head -c 65536 /dev/zero >"$scratch/zeros"
{ printf 'MOD_DORMIX_ENABLED="'; head -c 40000 /dev/zero | tr '\0' 'x'; printf '\n'; } >"$scratch/long"
# Seeded, so that a failing file can be made again.
for seed in 1 2 3 4 5; do
  python3 -c 'import random, sys; sys.stdout.buffer.write(random.Random(int(sys.argv[1])).randbytes(100000))' \
    "$seed" >"$scratch/random$seed" || fail "cannot make random$seed"
done
for file in "$scratch"/empty "$scratch"/zeros "$scratch"/long "$scratch"/random*; do
  for format in "" --json; do
    "$checker" $format --inputs 0,1 "$file" >/dev/null 2>"$scratch/err"
    status=$?
    [[ $status -le 1 ]] || fail "$(basename "$file") $format: exit $status $(cat "$scratch/err")"
  done
done

finish "check_cli: all"
