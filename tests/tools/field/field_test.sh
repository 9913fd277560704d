#!/usr/bin/env bash
# dormix-check --now and --watch on the simulated router, beside the daemon,
# while the inputs change: what they print, when, and how they end.
# Usage: field_test.sh DORMIX_SIM DORMIX DORMIX_CHECK
set -uo pipefail
sim=$1
daemon=$2
checker=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../lib.sh"
command -v python3 >/dev/null || { echo "SKIPPED: python3 is not installed"; exit 77; }
timeline=$(mktemp)
trap 'rm -f "$timeline"' EXIT

"$sim" --daemon "$daemon" --wrap "sh $here/beside_daemon.sh $checker 10" "$here/watch.scn" >"$timeline" 2>&1
status=$?
[[ $status -eq 77 ]] && { cat "$timeline"; exit 77; }
[[ $status -eq 0 ]] || fail "the scenario failed (dormix-sim exit $status)"

python3 - "$timeline" <<'PY' || fail "what dormix-check printed on the simulated router"
import re, sys
events = []
for line in open(sys.argv[1]):
    # seconds, the event padded to 7 characters, a blank, the text
    m = re.match(r"^\s*(\d+\.\d+)\s+(\S+)(.*)$", line.rstrip("\n"))
    if m:
        kind = m.group(2)
        events.append((float(m.group(1)), kind, m.group(3)[max(7 - len(kind), 0) + 1:]))
output = [(t, text) for t, kind, text in events if kind == "output"]
lpm_runs = [t for t, kind, text in events if kind == "lpm" and text.startswith("/usr/sbin/lpm")]

def at(pattern, start, end, count=1):
    found = [t for t, text in output if re.search(pattern, text)]
    assert len(found) == count, (pattern, found)
    assert all(start <= t <= end for t in found), (pattern, found, start, end)
    return found[0]

def change(text):
    found = [t for t, kind, said in events if kind == "scenario" and said == text]
    assert len(found) == 1, (text, found)
    return found[0]

# A busy host delays every step: each window counts from the change as the
# simulator made it, and allows the watch a few of its 250 ms looks.
rise = change("input 0 goes to level 1")
fall = change("input 0 goes to level 0")
second_rise = change("input 1 goes to level 1")
# --now, before the daemon starts, and the start of --watch: the status lines,
# the levels, the rule, all before the first change.
at(r"^time zone: CET-1CEST,M3\.5\.0,M10\.5\.0/3 \(from /etc/TZ\)$", 0, rise, count=2)
at(r"^  Binary Input 0: off$", 0, rise, count=2)
at(r"^input 0: present, level 0; sleep rule: level 1 held 3 s; does not match$", 0, rise, count=2)
at(r"^input 1: present, level 0; its sleep rule is off$", 0, rise, count=2)
at(r"^a firing now runs: /usr/sbin/lpm -b$", 0, rise, count=2)
now_done = at(r"^dormix-check --now: exit 0$", 0, rise)
# --watch prints each change once, on its next look.
at(r"CES?T  input 0: present, level 1; sleep rule: level 1 held 3 s; matches now", rise, rise + 0.8)
# Held from the whole monotonic second of the first match: 2 to 3 s later.
held = at(r"CES?T  input 0: .*matches and has held long enough", rise + 2, rise + 3.8)
# The daemon counts from its own first look, in the same or the next second.
assert lpm_runs and abs(lpm_runs[0] - held) < 1.5, (lpm_runs, held)
at(r"CES?T  input 0: present, level 0; sleep rule: level 1 held 3 s; does not match$", fall, fall + 0.8)
at(r"CES?T  input 1: present, level 1; its sleep rule is off$", second_rise, second_rise + 0.8)
# Nothing else changed, and SIGINT, 10 s after --now, ends the watch with status 0.
changes = [text for t, text in output if re.match(r"^\d{4}-\d\d-\d\d ", text)]
assert len(changes) == 4, changes
at(r"^dormix-check --watch: exit 0$", now_done + 10, now_done + 11)
PY
finish "check_field: all"
