#!/bin/sh
# Guest check: dormix-check --wait-for-clock against the kernel's own
# clock-synchronised state, which only root in this guest may change
# (adjtimex ADJ_STATUS, through clock_status.c). Unsynchronised,
# it waits out its bound on the monotonic clock, then reports so (status 1)
# or runs the program it was given in its own place; synchronised, it
# returns at once with status 0. Reports one line:
#   @@dormix-vm check clock_wait pass|fail DETAILS
check=/dormix/bin/dormix-check
problems=""
problem() { problems="$problems; $*"; }
uptime_ms() { awk '{ printf "%d\n", $1 * 1000 }' /proc/uptime; }
set_unsync() {
  if [ "$1" = 1 ]; then set=unsync; else set=sync; fi
  /dormix/checks/clock_status "$set" || problem "clock_status $set failed"
}

# timed_wait SECONDS OUTPUT: the checker's wait in the foreground; sets
# status and elapsed_ms.
timed_wait() {
  started=$(uptime_ms)
  "$check" --wait-for-clock "$1" >"$2" 2>&1
  status=$?
  elapsed_ms=$(($(uptime_ms) - started))
}

# Unsynchronised, a bound of 2 s: status 1 and the message, after 2 s or more.
set_unsync 1
timed_wait 2 /tmp/wait.out
unsynced_ms=$elapsed_ms
[ "$status" -eq 1 ] || problem "unsynchronised: status $status, not 1"
grep -q 'not synchronised after 2 s' /tmp/wait.out || problem "unsynchronised: $(cat /tmp/wait.out)"
[ "$unsynced_ms" -ge 2000 ] || problem "unsynchronised: returned after $unsynced_ms ms, before its bound"

# The same with a program: it runs after the bound, under the checker's pid.
started=$(uptime_ms)
"$check" --wait-for-clock 1 /bin/sh -c 'echo "pid $$"' >/tmp/exec.out 2>/dev/null &
checker=$!
wait "$checker"
exec_ms=$(($(uptime_ms) - started))
grep -qx "pid $checker" /tmp/exec.out || problem "program after the bound: $(cat /tmp/exec.out), checker $checker"
[ "$exec_ms" -ge 1000 ] || problem "program ran after $exec_ms ms, before the bound"

# Synchronised during the wait: it returns with status 0 before its bound.
"$check" --wait-for-clock 60 >/tmp/late.out 2>&1 &
waiting=$!
sleep 2
set_unsync 0
started=$(uptime_ms)
wait "$waiting"
status=$?
late_ms=$(($(uptime_ms) - started))
[ "$status" -eq 0 ] || problem "synchronised during the wait: status $status $(cat /tmp/late.out)"
[ "$late_ms" -le 30000 ] || problem "synchronised during the wait: returned $late_ms ms later"

# Synchronised from the start: status 0 at once.
timed_wait 60 /tmp/synced.out
synced_ms=$elapsed_ms
[ "$status" -eq 0 ] || problem "synchronised: status $status $(cat /tmp/synced.out)"
grep -q 'the clock is synchronised' /tmp/synced.out || problem "synchronised: $(cat /tmp/synced.out)"
[ "$synced_ms" -lt 1000 ] || problem "synchronised: returned after $synced_ms ms"

# A stop during the wait ends it, and the program never runs.
set_unsync 1
"$check" --wait-for-clock 60 /bin/touch /tmp/ran >/dev/null 2>&1 &
waiting=$!
sleep 1
kill -TERM "$waiting"
wait "$waiting"
status=$?
[ "$status" -eq 143 ] || problem "stopped during the wait: status $status, not 143 (SIGTERM)"
sleep 2
[ ! -e /tmp/ran ] || problem "stopped during the wait, yet the program ran"
set_unsync 0

figures="unsynced bound 2 s: status 1 after $unsynced_ms ms; bound 1 s then exec after $exec_ms ms;"
figures="$figures synced during the wait: status 0 after $late_ms ms; synced: status 0 after $synced_ms ms"
if [ -z "$problems" ]; then
  echo "@@dormix-vm check clock_wait pass $figures"
else
  echo "@@dormix-vm check clock_wait fail ${problems#; } ($figures)"
fi
