#!/bin/sh
# Guest check: dormix-wait-clock against the kernel's own
# clock-synchronised state, which only root in this guest may change
# (adjtimex ADJ_STATUS, through clock_status.c). Unsynchronised,
# it waits out its bound on the monotonic clock, then reports so (status 1)
# or runs the program it was given in its own place; synchronised, it
# returns at once with status 0. Then real NTP clients set a clock that is an
# hour off against a responder on the guest's own loopback (ntp_responder.c):
# busybox ntpd as OpenWrt's sysntpd runs it, with the archives' hotplug
# handler behind a stand-in for OpenWrt's ntpd-hotplug; busybox "ntpd -q";
# and "date -s". Each must end the wait well before its bound, naming the
# sign in its verdict; the time from the step (or from the hotplug event, for
# ntpd with a clock already right) to the program's start is a figure, not a
# pass mark (the goal is 2 s). Reports one line:
#   @@dormix-vm check clock_wait pass|fail DETAILS
check=/dormix/bin/dormix-wait-clock
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
  "$check" "$1" >"$2" 2>&1
  status=$?
  elapsed_ms=$(($(uptime_ms) - started))
}

# until_seen WHAT COMMAND...: polls COMMAND until it succeeds (60 s at most).
until_seen() {
  what=$1
  shift
  tries=600
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { problem "$what: not seen in 60 s"; return 1; }
    sleep 0.1
  done
}
has_timerfd() {
  for fd in "/proc/$1/fd"/*; do
    [ "$(readlink "$fd")" = "anon_inode:[timerfd]" ] && return 0
  done
  return 1
}
# is_waiting PID: the checker has armed its step timer and sleeps in its
# poll on it, which it enters only after its first look at the clock.
is_waiting() { has_timerfd "$1" && grep -q '^State:.S' "/proc/$1/status"; }

# Unsynchronised, a bound of 2 s: status 1 and the message, after 2 s or more.
set_unsync 1
timed_wait 2 /tmp/wait.out
unsynced_ms=$elapsed_ms
[ "$status" -eq 1 ] || problem "unsynchronised: status $status, not 1"
grep -q 'not synchronised after 2 s' /tmp/wait.out || problem "unsynchronised: $(cat /tmp/wait.out)"
[ "$unsynced_ms" -ge 2000 ] || problem "unsynchronised: returned after $unsynced_ms ms, before its bound"

# The same with a program: it runs after the bound, under the checker's pid.
started=$(uptime_ms)
"$check" 1 /bin/sh -c 'echo "pid $$"' >/tmp/exec.out 2>/dev/null &
checker=$!
wait "$checker"
exec_ms=$(($(uptime_ms) - started))
grep -qx "pid $checker" /tmp/exec.out || problem "program after the bound: $(cat /tmp/exec.out), checker $checker"
[ "$exec_ms" -ge 1000 ] || problem "program ran after $exec_ms ms, before the bound"

# Synchronised during the wait: it returns with status 0 before its bound.
"$check" 60 >/tmp/late.out 2>&1 &
waiting=$!
until_seen "the checker's wait" is_waiting "$waiting"
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
# "At once" in the checker's own words: its time here is a figure.
grep -q 'the kernel reports it (waited 0.000 s)' /tmp/synced.out || problem "synchronised: $(cat /tmp/synced.out)"

# A stop during the wait ends it, and the program never runs.
set_unsync 1
"$check" 60 /bin/touch /tmp/ran >/dev/null 2>&1 &
waiting=$!
until_seen "the checker's wait before the stop" is_waiting "$waiting"
kill -TERM "$waiting"
wait "$waiting"
status=$?
[ "$status" -eq 143 ] || problem "stopped during the wait: status $status, not 143 (SIGTERM)"
sleep 2
[ ! -e /tmp/ran ] || problem "stopped during the wait, yet the program ran"
set_unsync 0

figures="unsynced bound 2 s: status 1 after $unsynced_ms ms; bound 1 s then exec after $exec_ms ms;"
figures="$figures synced during the wait: status 0 after $late_ms ms; synced: status 0 after $synced_ms ms"

# The NTP clients. The guest's loopback carries the only packets. The
# board check's syslogd writes /tmp/messages; without it, one of our own.
pidof syslogd >/dev/null || {
  syslogd -n -O /tmp/messages &
  until_seen "syslogd's socket" test -S /dev/log
}
ifconfig lo 127.0.0.1 up || problem "cannot bring up the loopback"
clock_started_s=$(date +%s)
clock_started_ms=$(/dormix/checks/clock_status now)
mkdir -p /etc/hotplug.d/ntp /usr/sbin /var/state
cp /dormix/checks/dormix.ntp-hotplug /etc/hotplug.d/ntp/25-dormix || problem "cannot install the hotplug handler"
# What OpenWrt's ntpd-hotplug and hotplug-call do: only the stratum event
# goes on, to every ntp handler, sourced with ACTION set. It notes when.
# shellcheck disable=SC2016 # the script's own expansions
printf '%s\n' '#!/bin/sh' '[ "$1" = stratum ] || exit 0' \
  '/dormix/checks/clock_status now >/tmp/event.ms' 'export ACTION="$1"' \
  'for handler in /etc/hotplug.d/ntp/*; do . "$handler"; done' >/usr/sbin/ntpd-hotplug
chmod 755 /usr/sbin/ntpd-hotplug
ntpd=/dormix/checks/ntpd

# start_wait: a fresh boot's state (no mark, kernel unsynchronised), a
# watcher that notes the step, and the checker waiting with a program that
# notes its start.
start_wait() {
  rm -f /var/state/dormix-ntp-synced /tmp/event.ms /tmp/step.ms /tmp/started.ms
  set_unsync 1
  /dormix/checks/clock_status watch-step >/tmp/step.ms &
  watcher=$!
  "$check" 120 /dormix/checks/clock_status now >/tmp/started.ms 2>/tmp/verdict &
  waiting=$!
  until_seen "the step watcher" grep -qs watching /tmp/step.ms
  until_seen "the checker's step timer" has_timerfd "$waiting"
}
# end_wait NAME VERDICT FROM_FILE: the checker's status and verdict (with a
# program to run, in the system log alone), and the time from the event
# noted in FROM_FILE to the program's start, as a figure.
end_wait() {
  wait "$waiting"
  status=$?
  # The watcher and the checker wake on the same step, and the checker may
  # be through before the watcher has run at all: its line is awaited, not
  # cut off. After a hotplug event (no step) it never ends by itself.
  until_seen "$1: the event's time in $3" grep -qx '[0-9][0-9]*' "$3"
  kill "$watcher" 2>/dev/null
  wait "$watcher" 2>/dev/null
  [ "$status" -eq 0 ] || problem "$1: status $status $(cat /tmp/verdict)"
  [ ! -s /tmp/verdict ] || problem "$1: on stderr too: $(cat /tmp/verdict)"
  until_seen "$1: the verdict in the log" grep -q "dormix-wait-clock\[$waiting\]: .*$2" /tmp/messages
  event=$(grep -x '[0-9][0-9]*' "$3" 2>/dev/null)
  started=$(cat /tmp/started.ms 2>/dev/null)
  if [ -n "$event" ] && [ -n "$started" ]; then
    figures="$figures; $1: $((started - event)) ms"
  else
    problem "$1: no time of the event ($3) or of the program's start"
  fi
}
stop_process() {
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
# start_responder OFFSET: the NTP server, bound before any client asks.
start_responder() {
  rm -f /tmp/responder.out
  /dormix/checks/ntp_responder "$1" >/tmp/responder.out &
  responder=$!
  until_seen "the NTP responder" grep -qx answering /tmp/responder.out
}

# busybox ntpd as sysntpd starts it, an hour behind: it steps the clock.
start_responder 3600
start_wait
"$ntpd" -n -N -S /usr/sbin/ntpd-hotplug -p 127.0.0.1 >/tmp/ntpd.log 2>&1 &
client=$!
end_wait "sysntpd's ntpd, step to start" "it was stepped during the wait" /tmp/step.ms
stop_process "$client"
stop_process "$responder"

# The same with the clock already right: no step, the stratum event's mark.
start_responder 0
start_wait
"$ntpd" -n -N -S /usr/sbin/ntpd-hotplug -p 127.0.0.1 >/tmp/ntpd.log 2>&1 &
client=$!
end_wait "sysntpd's ntpd, hotplug to start" "the NTP client reported it" /tmp/event.ms
stop_process "$client"
stop_process "$responder"
# A later wait in the same boot (a restart) ends at once on the mark.
timed_wait 60 /tmp/marked.out
grep -q 'the NTP client reported it (waited 0.000 s)' /tmp/marked.out ||
  problem "marked: $(cat /tmp/marked.out)"
# A mark of another boot does not count.
set_unsync 1
echo 00000000-0000-0000-0000-000000000000 >/var/state/dormix-ntp-synced
timed_wait 1 /tmp/stale.out
[ "$status" -eq 1 ] || problem "a stale mark ended the wait: $(cat /tmp/stale.out)"

# busybox ntpd -q, once, an hour behind.
start_responder 3600
start_wait
"$ntpd" -n -q -p 127.0.0.1 >/tmp/ntpd.log 2>&1 || problem "ntpd -q: $(cat /tmp/ntpd.log)"
end_wait "ntpd -q, step to start" "it was stepped during the wait" /tmp/step.ms
stop_process "$responder"

# date -s, an hour ahead.
start_wait
date -s "@$(($(date +%s) + 3600))" >/dev/null || problem "date -s failed"
end_wait "date -s, step to start" "it was stepped during the wait" /tmp/step.ms

# Back to the clock this check found, for what runs after it.
now_ms=$(/dormix/checks/clock_status now)
date -s "@$((clock_started_s + (now_ms - clock_started_ms) / 1000))" >/dev/null
set_unsync 0
if [ -z "$problems" ]; then
  echo "@@dormix-vm check clock_wait pass $figures"
else
  echo "@@dormix-vm check clock_wait fail ${problems#; } ($figures)"
fi
