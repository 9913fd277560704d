#!/usr/bin/env bash
# Judges the ARM test guest's console output: prints what it reported and
# exits 1 unless the guest booted, finished, passed every unit test
# executable, and passed all SCENARIO_COUNT scenarios for every daemon named,
# none failed or skipped.
# Usage: tests/armvm/judge.sh CONSOLE_LOG SCENARIO_COUNT DAEMON_NAME...
set -uo pipefail
log=$1
expected=$2
shift 2
problems=0
problem() {
  echo "arm-vm: $*" >&2
  problems=$((problems + 1))
}
marked() { sed -n 's/^.*@@dormix-vm //p' "$log"; }

booted=$(marked | sed -n 's/^booted \([0-9.]*\) s$/\1/p')
if [[ -z $booted ]]; then
  problem "the guest never reported that it booted"
else
  echo "arm-vm: guest booted, init started at ${booted} s of guest uptime"
fi
marked | grep '^setup fail' | while read -r line; do echo "arm-vm: $line" >&2; done
if marked | grep -q '^setup fail'; then problem "the guest's setup failed"; fi

units=$(marked | grep -c '^unit ' || true)
if ((units == 0)); then problem "no unit test results"; fi
while read -r _ name verdict rest; do
  echo "arm-vm: unit tests $name: $verdict ($rest)"
  [[ $verdict == pass ]] || problem "unit tests $name failed"
done < <(marked | grep '^unit ')

for daemon in "$@"; do
  end=$(marked | sed -n "s/^scenarios $daemon end .*exit=\([0-9]*\)\$/\1/p")
  [[ -n $end ]] || problem "no end of the scenarios for the $daemon daemon"
  passed=$(marked | grep -c "^scenario $daemon PASS " || true)
  failed=$(marked | grep -c "^scenario $daemon FAIL " || true)
  skipped=$(marked | grep -c "^scenario $daemon SKIP " || true)
  echo "arm-vm: $daemon daemon: $passed passed, $failed failed, $skipped skipped of $expected scenarios"
  marked | grep -E "^scenario $daemon (FAIL|SKIP) " | sed 's/^/arm-vm:   /' >&2
  ((failed == 0 && skipped == 0)) || problem "scenarios failed or were skipped for the $daemon daemon"
  ((passed == expected)) || problem "$passed of $expected scenarios passed for the $daemon daemon"
  [[ -z $end || $end == 0 ]] || problem "the simulator ended with status $end for the $daemon daemon"
  # Rates in the guest: status-rate reads input 0 once a cycle and asks
  # the status tool on its own schedule.
  rate=$(marked | sed -n "s/^scenario $daemon PASS status-rate  (.*, \([0-9.]*\) s; status tool ran \([0-9]*\) times, .*, \([0-9]*\) level requests)/\1 \2 \3/p")
  if [[ -n $rate ]]; then
    read -r seconds runs reads <<<"$rate"
    awk -v s="$seconds" -v r="$runs" -v l="$reads" -v d="$daemon" 'BEGIN {
      printf "arm-vm: %s daemon in status-rate: %.0f status-tool runs a minute, cycle %.0f ms (%d level requests in %.1f s)\n",
             d, r * 60 / s, s * 1000 / l, l, s }'
  fi
done
for check in "$(dirname "$0")"/checks/*.sh; do
  name=$(basename "$check" .sh)
  result=$(marked | grep "^check $name " || echo "check $name missing")
  echo "arm-vm: $result"
  [[ $result == "check $name pass"* ]] || problem "the guest check $name did not pass"
done
if ! marked | grep -q '^done '; then problem "the guest did not report the end of its run"; fi
((problems == 0))
