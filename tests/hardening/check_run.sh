#!/usr/bin/env bash
# Runs one scenario on the simulated router with the daemon behind a wrapper
# (strace, valgrind, start_with) and checks what the wrapper saw as well.
#
#   check_run.sh SIMULATOR DAEMON SCENARIO [options]
#     --wrap "CMD ARGS"       put before the daemon; @WORK@ is this run's scratch directory
#     --injected N|N..M|N..   strace -ff -o @WORK@/trace must have injected this many faults
#     --injected-match REGEX  and every injected call must match REGEX (e.g. the pipe)
#     --injected-in daemon|children  and every injection must hit that process or those
#     --output REGEX          the simulator's output must have a line matching REGEX
#     --quiet                 only the verdicts (for scenarios with very many actions)
#     --then "COMMAND"        run afterwards with WORK set; it must succeed
# Exit status: 0 passed, 1 failed, 77 the simulator cannot run here.
set -uo pipefail

simulator=$1 daemon=$2 scenario=$3
shift 3
work=$(mktemp -d "${TMPDIR:-/tmp}/dormix-hardening.XXXXXX")
trap 'rm -rf "$work"' EXIT
quiet="" wrap="" injected="" injected_match="" injected_in="" then=""
outputs=()
while [ $# -gt 0 ]; do
  case $1 in
    --wrap) wrap=${2//@WORK@/$work} ;;
    --injected) injected=$2 ;;
    --injected-match) injected_match=$2 ;;
    --injected-in) injected_in=$2 ;;
    --output) outputs+=("$2") ;;
    --then) then=$2 ;;
    --quiet) quiet=1; shift; continue ;;
    *) echo "check_run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done

source "$(dirname "$0")/../lib.sh"
wrapper=${wrap%% *}
if [ -n "$wrapper" ] && ! command -v "$wrapper" >/dev/null; then
  echo "skipped: $wrapper is not installed"
  exit 77
fi

arguments=(--daemon "$daemon")
[ -n "$wrap" ] && arguments+=(--wrap "$wrap")
[ -n "$quiet" ] && arguments+=(--quiet)
"$simulator" "${arguments[@]}" "$scenario" >"$work/output" 2>&1
result=$?
cat "$work/output"
[ $result -eq 77 ] && exit 77
[ $result -eq 0 ] || fail "the simulator reported a failed run (exit status $result)"

for pattern in "${outputs[@]}"; do
  grep -Eq -- "$pattern" "$work/output" || fail "no output line matches: $pattern"
done

if [ -n "$injected" ]; then
  # strace -ff writes one file per process, trace.PID; strace starts the
  # daemon, so it has the lowest pid of them.
  daemon_pid=$(ls "$work" | sed -n 's/^trace\.\([0-9]*\)$/\1/p' | sort -n | head -1)
  for file in "$work"/trace.*; do
    sed "s/^/${file##*.} /" "$file"
  done >"$work/trace"
  # A fault shows as "(INJECTED)", a delivered signal as "si_code=SI_KERNEL".
  sed -i 's/--- \(SIG[A-Z]*\) {.*si_code=SI_KERNEL.*/signal \1 (INJECTED)/' "$work/trace"
  count=$(grep -c 'INJECTED' "$work/trace")
  low=${injected%%..*} high=${injected##*..}
  [[ $injected == *..* ]] || high=$low
  echo "strace injected the fault $count times (wanted $injected; the daemon is pid $daemon_pid)"
  grep -m 3 'INJECTED' "$work/trace" | sed 's/^/  e.g. /'
  if [ "$count" -lt "$low" ] || { [ -n "$high" ] && [ "$count" -gt "$high" ]; }; then
    fail "injections: $count, wanted $injected"
  fi
  if [ -n "$injected_match" ] && grep 'INJECTED' "$work/trace" | grep -Evq -- "$injected_match"; then
    fail "an injection hit another call than wanted: $(grep 'INJECTED' "$work/trace" |
      grep -Ev -- "$injected_match" | head -1)"
  fi
  strays=$(awk -v pid="$daemon_pid" -v want="$injected_in" \
    '/INJECTED/ && (want == "daemon") != ($1 == pid) { n++ } END { print n + 0 }' "$work/trace")
  if [ -n "$injected_in" ] && [ "$strays" -gt 0 ]; then
    fail "$strays injections did not hit the $injected_in"
  fi
fi

if [ -n "$then" ]; then
  WORK=$work bash -c "$then" || fail "the check afterwards failed: $then"
fi
finish "$(basename "$scenario" .scn)"
