#!/usr/bin/env bash
# Reads the memcheck logs of a run (WORK/vg.PID, one per process): the
# daemon's own log must show no errors, no lost memory and, at exit, no
# descriptors beyond 0-2, the syslog socket, /dev/gpio and the log itself.
# The forked children's logs end at their exec and must show no errors.
set -uo pipefail
logs=("$WORK"/vg.*)
daemon_log=$(grep -l 'HEAP SUMMARY' "${logs[@]}" | xargs grep -l 'Command: /usr/sbin/dormix$')
if [ "$(echo "$daemon_log" | wc -w)" -ne 1 ]; then
  echo "expected one memcheck log of the daemon, found: ${daemon_log:-none}"
  exit 1
fi
failed=0
sed 's/^==[0-9]*== //' "$daemon_log" | sed -n '/FILE DESCRIPTORS/,$p'
grep -q 'ERROR SUMMARY: 0 errors' "$daemon_log" || { echo "the daemon has memory errors"; failed=1; }
if ! grep -q 'All heap blocks were freed' "$daemon_log"; then
  for kind in definitely indirectly possibly; do
    grep -Eq "$kind lost: 0 bytes" "$daemon_log" || { echo "$kind lost memory"; failed=1; }
  done
fi
unexpected=$(grep -E 'Open (file descriptor|AF_UNIX socket) [0-9]+:' "$daemon_log" |
  grep -Ev 'descriptor [0-9]+: /dev/gpio$|AF_UNIX socket [0-9]+: |descriptor [0-9]+: .*/vg\.[0-9]+$')
[ -z "$unexpected" ] || { echo "descriptors left open: $unexpected"; failed=1; }
children=$(grep -L 'HEAP SUMMARY' "${logs[@]}" | wc -l)
if grep -q 'ERROR SUMMARY: [1-9]\|Invalid \(read\|write\)' "${logs[@]}"; then
  echo "a child has memory errors before its exec"
  failed=1
fi
echo "memcheck: daemon log ${daemon_log##*/}, $children forked children checked up to their exec"
exit $failed
