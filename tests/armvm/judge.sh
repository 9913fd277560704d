#!/usr/bin/env bash
# Judges a test guest's console output from the fixed-format lines its
# init writes (see tests/armvm/init): prints what the guest reported and
# exits 1 unless the guest booted and finished, every script in
# tests/armvm/checks/ ran and its checks passed, every unit test program
# named passed, and every scenario in simulator/scenarios/ passed for every
# daemon named, none failed or skipped.
# Usage: tests/armvm/judge.sh CONSOLE_LOG "PROGRAM..." DAEMON_NAME...
# Environment: ARMVM_NAME, the prefix of what it prints (default arm-vm).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
source "$here/../lib.sh"
log=$1
read -ra programs <<<"$2"
shift 2
say() { echo "${ARMVM_NAME:-arm-vm}: $*"; }

booted="" finished="" setup_failures=()
declare -A checks tests verdicts figures ended expected reported
while IFS= read -r line; do
  [[ $line == *"@@dormix-vm "* ]] || continue
  read -ra field <<<"${line#*@@dormix-vm }"
  case ${field[0]} in
    booted) booted=${field[1]} ;;
    done) finished=${field[1]} ;;
    setup) setup_failures+=("${field[*]:2}") ;;
    check)
      reported[${field[1]}]=1
      [[ ${field[2]} == pass ]] || fail "check ${field[1]}: ${field[*]:2}"
      ;;
    expect) expected[${field[1]}]=1 ;;
    checks) checks[${field[1]}]="${field[2]} ${field[3]}" ;;
    test) tests[${field[1]}]="${field[2]} ${field[3]}" ;;
    scenario) verdicts[${field[1]} ${field[2]}]="${field[3]} ${field[4]}" ;;
    figures) figures[${field[1]} ${field[2]}]="${field[*]:3}" ;;
    scenarios) ended[${field[1]}]=${field[2]} ;;
  esac
done <"$log"

if [[ -n $booted ]]; then
  say "guest booted, init started at $booted s of guest uptime"
else
  fail "the guest never reported that it booted"
fi
for failure in "${setup_failures[@]}"; do fail "the guest's setup failed: $failure"; done

for script in "$here"/checks/*.sh; do
  [[ -f $script ]] || continue
  name=$(basename "$script" .sh)
  read -r status count <<<"${checks[$name]:-none 0}"
  say "check script $name: exit status $status, $count checks reported"
  [[ $status == 0 && $count -gt 0 ]] || fail "check script $name: exit status $status, $count checks"
done

for program in "${programs[@]}"; do
  read -r verdict seconds <<<"${tests[$program]:-missing}"
  say "unit test program $program: $verdict${seconds:+ in $seconds s}"
  [[ $verdict == pass ]] || fail "unit test program $program: $verdict"
done

for daemon in "$@"; do
  passed=0
  for path in "$source_dir/simulator/scenarios"/*.scn; do
    scenario=$(basename "$path" .scn)
    read -r verdict seconds <<<"${verdicts[$daemon $scenario]:-missing}"
    if [[ $verdict == pass ]]; then
      passed=$((passed + 1))
    else
      fail "$daemon daemon, scenario $scenario: $verdict"
    fi
  done
  say "$daemon daemon: $passed of $(find "$source_dir/simulator/scenarios" -name '*.scn' | wc -l) scenarios passed"
  [[ ${ended[$daemon]:-none} == 0 ]] ||
    fail "$daemon daemon: the simulator ended with status ${ended[$daemon]:-none}"
  # status-rate reads input 0 once a cycle and asks the status tool on its
  # own schedule: the rates in the guest.
  if [[ -n ${figures[$daemon status-rate]:-} ]]; then
    read -r seconds runs _ reads <<<"${figures[$daemon status-rate]}"
    awk -v s="$seconds" -v r="$runs" -v l="$reads" -v d="$daemon" -v p="${ARMVM_NAME:-arm-vm}" 'BEGIN {
      printf "%s: %s daemon in status-rate: %.0f status-tool runs a minute, cycle %.0f ms (%d level requests in %.1f s)\n",
             p, d, r * 60 / s, s * 1000 / l, l, s }'
  fi
done
[[ -n $finished ]] || fail "the guest did not report the end of its run"
for name in "${!expected[@]}"; do
  [[ -v "reported[$name]" ]] || fail "check $name was announced but never reported"
done
((failures == 0))
