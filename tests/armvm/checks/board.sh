#!/bin/sh
# Guest check: the board side on this guest's own kernel, at the daemon's
# paths /usr/sbin/lpm, /usr/bin/status and /dev/gpio (this guest only).
# Where dormix_gpio and the test chip were built for this kernel: the
# unchanged daemon sees input 0 held, runs "lpm -b -i 20" and the guest
# suspends until the RTC wakes it; then again until the host pulses the
# virt machine's PL061 line 3 (input 1) 5 s into the sleep (ARM only); soft
# ends on its timer and on an input change. Everywhere: lpm -i 5 suspends
# until the RTC alarm (x86-64: the CMOS RTC), every bad input fails as
# documented with nothing armed, and the guest's last act is lpm's poweroff,
# with the alarm read back (the init runs /tmp/final-act). Reports:
#   @@dormix-vm check board_NAME pass|fail DETAILS
#   @@dormix-vm expect board_poweroff        (judge.sh requires that check)
#   @@dormix-vm pulse-power-button 5         (run.sh: pulse 5 s after the next suspend entry)
board=/dormix/board
modules=/dormix/modules
problems=""
problem() { problems="$problems; $*"; }
result() {
  name=$1
  shift
  if [ -z "$problems" ]; then
    echo "@@dormix-vm check board_$name pass $*"
  else
    echo "@@dormix-vm check board_$name fail$problems"
  fi
  problems=""
}
# Time spent suspended: from the kernel's "PM: suspend entry" to its "PM:
# suspend exit" of the last sleep, on the clock of its log, plus the growth
# of CLOCK_BOOTTIME minus CLOCK_MONOTONIC, which grows only while the kernel
# has stopped timekeeping (and its log's clock with it): in S3 on x86-64,
# not in s2idle without a cpuidle driver, as on the virt machines.
last_sleep_ms() {
  dmesg | awk '/PM: suspend (entry|exit)/ { line = $0; sub(/^\[ */, "", line); split(line, t, "]")
    if ($0 ~ /entry/) entry = t[1]; else left = t[1] }
    END { printf "%d\n", (left - entry) * 1000 }'
}
suspended_ms() { /dormix/checks/board_clocks; }
successes() { cat /sys/power/suspend_stats/success; }
alarm() { cat /sys/class/rtc/rtc0/wakealarm 2>/dev/null; }
# 0 before syslogd has written its first line.
lines() { if [ -f /tmp/messages ]; then grep -c "$1" /tmp/messages; else echo 0; fi; }
# wait_for_line TEXT COUNT: until syslog holds COUNT lines with TEXT (120 s at most).
wait_for_line() {
  tries=0
  while [ "$(lines "$1")" -lt "$2" ] && [ "$tries" -lt 1200 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
}
# gate: lets one lpm run read its configuration from the FIFO (60 s at most).
gate() { timeout 60 sh -c "echo method=suspend >/opt/dormix/etc/lpm" || problem "no lpm run came for the gate"; }
# expect_failure NAME STATUS TEXT ARGUMENT...: lpm exits with STATUS, says TEXT on
# stderr and in syslog, and leaves neither the alarm nor the inputs armed.
expect_failure() {
  what=$1 status=$2 text=$3
  shift 3
  before=$(lines "$text")
  lpm "$@" >/dev/null 2>/tmp/lpm.err
  got=$?
  [ "$got" -eq "$status" ] || problem "$what: exit status $got, not $status"
  grep -q -- "$text" /tmp/lpm.err || problem "$what: stderr $(cat /tmp/lpm.err)"
  wait_for_line "$text" $((before + 1))
  [ "$(lines "$text")" -gt "$before" ] || problem "$what: not in syslog"
  [ -z "$(alarm)" ] || problem "$what: RTC alarm left at $(alarm)"
  if [ -f /sys/class/misc/gpio/wake ] && [ "$(cat /sys/class/misc/gpio/wake)" != 0 ]; then
    problem "$what: inputs left armed"
  fi
}

mkdir -p /usr/sbin /usr/bin /opt/dormix/etc
rm -f /opt/dormix/etc/lpm
cp "$board/dormix-lpm" /usr/sbin/lpm
cp "$board/dormix-status" /usr/bin/status
# Stays for the rest of the guest's life, for lpm's line before the power-off.
# Its socket bound, no line is lost: the kernel queues them until it reads.
syslogd -n -O /tmp/messages &
tries=0
until [ -S /dev/log ] || [ "$tries" -ge 600 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
[ -S /dev/log ] || problem "syslogd: no /dev/log after 60 s"
echo 0 >/sys/class/rtc/rtc0/wakealarm

# Bad inputs, without the driver.
expect_failure "no arguments" 2 "no wake-up condition"
expect_failure "-i 12x" 2 "seconds must be plain decimal digits" -i 12x
expect_failure "-i 4294967296" 2 "seconds must be plain decimal digits" -i 4294967296
expect_failure "-i 5 -b" 2 'unexpected argument "-b"' -i 5 -b
expect_failure "-b without dormix_gpio" 1 "no input to arm for -b" -b -i 20
echo 'rtc=/dev/rtc9' >/opt/dormix/etc/lpm
expect_failure "no RTC" 1 "no wake-capable RTC for -i 20: /dev/rtc9" -i 20
echo 'method=hibernate' >/opt/dormix/etc/lpm
expect_failure "unknown method" 3 'unknown method "hibernate"' -i 20
rm -f /opt/dormix/etc/lpm
output=$(status -v ports 2>/dev/null)
status=$?
if [ "$status" -ne 0 ] || [ -n "$output" ]; then problem "status without the driver: $status '$output'"; fi
output=$(status -v wan 2>/dev/null)
status=$?
if [ "$status" -ne 1 ] || [ -n "$output" ]; then problem "status -v wan: $status '$output'"; fi
result bad_inputs "every malformed or impossible request refused, nothing armed"

# RTC wake from the kernel's sleep state, lpm alone.
state=$(cat /sys/power/state)
success=$(successes)
suspends=$(lines 'suspend (')
before=$(suspended_ms)
lpm -i 5
status=$?
frozen=$(($(suspended_ms) - before))
slept=$(($(last_sleep_ms) + frozen))
[ "$status" -eq 0 ] || problem "lpm -i 5: exit status $status"
[ "$(successes)" -eq $((success + 1)) ] || problem "suspend_stats/success $success -> $(successes)"
[ "$slept" -ge 3000 ] && [ "$slept" -le 7000 ] || problem "suspended $slept ms (boottime-monotonic +$frozen ms) for a 5 s alarm"
wait_for_line 'suspend (' $((suspends + 1))
logged=$(grep 'suspend (' /tmp/messages | tail -n 1)
case $logged in *"woken by the RTC alarm after"*) ;; *) problem "log: $logged" ;; esac
[ -z "$(alarm)" ] || problem "alarm left at $(alarm)"
result rtc_suspend "suspended $slept ms for lpm -i 5 (boottime-monotonic +$frozen ms; states: $state); ${logged#*]: }"

if [ -f "$modules/dormix_gpio.ko" ] && [ -f "$modules/dormix_testchip.ko" ]; then
  insmod "$modules/dormix_testchip.ko" || problem "insmod dormix_testchip"
  levels=/sys/devices/platform/dormix-testchip/levels
  # input 1: the virt machine's PL061 line 3 (its power button) where there is one.
  pl061=""
  for chip in /sys/bus/gpio/devices/gpiochip*; do
    case $(readlink -f "$chip") in *pl061*) pl061=${chip##*/} ;; esac
  done
  for key in /sys/bus/platform/drivers/gpio-keys/*; do
    [ -L "$key" ] && echo "${key##*/}" >/sys/bus/platform/drivers/gpio-keys/unbind
  done
  insmod "$modules/dormix_gpio.ko" || problem "insmod dormix_gpio without lines"
  expect_failure "-b with no configured input" 1 "dormix_gpio has no configured input" -b
  rmmod dormix_gpio
  input1="dormix-testchip:1"
  [ -n "$pl061" ] && input1=$pl061:3
  insmod "$modules/dormix_gpio.ko" input0=dormix-testchip:0 input1="$input1" ||
    problem "insmod dormix_gpio input0=dormix-testchip:0 input1=$input1"
  echo 0000 >"$levels"
  output=$(status -v ports)
  [ "$output" = "$(printf 'Binary Input 0: 0\nBinary Input 1: 0')" ] || problem "status -v ports: $output"
  echo 1000 >"$levels"
  output=$(status -v ports)
  [ "$output" = "$(printf 'Binary Input 0: 1\nBinary Input 1: 0')" ] || problem "status -v ports at level 1: $output"
  result status "status -v ports follows the driver (input 1: $input1)"

  # soft: hooks in order, undone in reverse; the wait ends on the timer,
  # then on a change of input 0.
  for hook in radios leds; do
    printf '#!/bin/sh\necho "%s $1" >>/tmp/hooks.log\n' "$hook" >/tmp/$hook
    chmod 755 /tmp/$hook
  done
  printf 'method=soft\nhook=/tmp/radios\nhook=/tmp/leds\n' >/opt/dormix/etc/lpm
  rm -f /tmp/hooks.log
  lpm -i 2
  status=$?
  hooks=$(tr '\n' ',' </tmp/hooks.log)
  [ "$status" -eq 0 ] || problem "soft -i 2: exit status $status"
  [ "$hooks" = "radios sleep,leds sleep,leds wake,radios wake," ] || problem "soft hooks: $hooks"
  wait_for_line 'soft: woken by the timer after 2 s' 1
  grep -q 'soft: woken by the timer after 2 s' /tmp/messages || problem "soft timer: $(grep soft: /tmp/messages)"
  rm -f /tmp/hooks.log
  timeout 60 lpm -b &
  waiting=$!
  tries=0
  until grep -q 'leds sleep' /tmp/hooks.log 2>/dev/null || [ "$tries" -ge 600 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  echo 0000 >"$levels"
  wait "$waiting"
  status=$?
  [ "$status" -eq 0 ] || problem "soft -b: exit status $status"
  wait_for_line 'soft: woken by input 0 after' 1
  grep -q 'soft: woken by input 0 after' /tmp/messages || problem "soft input: $(grep soft: /tmp/messages)"
  [ "$(cat /sys/class/misc/gpio/wake)" = 0 ] || problem "soft: inputs left armed"
  result soft "hooks radios, leds, then undone; ended by the timer and by input 0"

  # The daemon, unchanged: input 0 held 2 s runs lpm -b -i 20. lpm reads its
  # configuration from a FIFO, so that each write lets exactly one run go
  # by: the daemon's input rule fires again after every wake while the
  # level holds, as it must, and the next lpm waits at the FIFO.
  printf 'MOD_DORMIX_SLEEP_BIN0_ENABLED=1\nMOD_DORMIX_SLEEP_BIN0_STATE=1\nMOD_DORMIX_SLEEP_BIN0_SECOND=2\n' \
    >/opt/dormix/etc/settings
  printf 'MOD_DORMIX_WAKEUP_BIN_ENABLED=1\nMOD_DORMIX_WAKEUP_DELAY0_ENABLED=1\nMOD_DORMIX_WAKEUP_DELAY0_SECOND=20\n' \
    >>/opt/dormix/etc/settings
  rm -f /opt/dormix/etc/lpm
  mkfifo /opt/dormix/etc/lpm
  daemon=$(ls -d /dormix/daemons/* | head -n 1)/dormix
  "$daemon" &
  dormix=$!
  success=$(successes)
  before=$(suspended_ms)
  echo 1000 >"$levels"
  gate
  wait_for_line 'suspend (' 2
  frozen=$(($(suspended_ms) - before))
  slept=$(($(last_sleep_ms) + frozen))
  [ "$(successes)" -eq $((success + 1)) ] || problem "suspend_stats/success $success -> $(successes)"
  [ "$slept" -ge 18000 ] && [ "$slept" -le 22000 ] || problem "suspended $slept ms (boottime-monotonic +$frozen ms) for a 20 s alarm"
  logged=$(grep 'suspend (' /tmp/messages | tail -n 1)
  case $logged in *"woken by the RTC alarm after"*"wake-up by input 0 or 1, or by the RTC alarm at"*"(20 s)"*) ;;
    *) problem "log: $logged" ;; esac
  result daemon_rtc "input 0 held: suspended $slept ms for lpm -b -i 20 (boottime-monotonic +$frozen ms); ${logged#*]: }"

  if [ -n "$pl061" ]; then
    success=$(successes)
    before=$(suspended_ms)
    dmesg -n 7
    echo "@@dormix-vm pulse-power-button 5" >/dev/console
    gate
    wait_for_line 'suspend (' 3
    dmesg -n 4
    frozen=$(($(suspended_ms) - before))
    slept=$(($(last_sleep_ms) + frozen))
    [ "$(successes)" -eq $((success + 1)) ] || problem "suspend_stats/success $success -> $(successes)"
    # The host pulses 5 s after it has read the entry off the console, and
    # how much later depends on the host's load: the log names the wake's
    # source, and it must come before the RTC alarm's 20 s.
    [ "$slept" -ge 3000 ] && [ "$slept" -lt 20000 ] || problem "suspended $slept ms for a pulse after 5 s"
    logged=$(grep 'suspend (' /tmp/messages | tail -n 1)
    case $logged in *"woken by input 1 after"*) ;; *) problem "log: $logged" ;; esac
    [ -z "$(alarm)" ] || problem "alarm left at $(alarm)"
    result daemon_input "suspended $slept ms (boottime-monotonic +$frozen ms), woken by the host's pulse; ${logged#*]: }"
  fi
  kill "$dormix"
  for waiting in $(pidof lpm); do kill "$waiting"; done
  wait "$dormix"
  echo 0000 >"$levels"
  rm -f /opt/dormix/etc/lpm /opt/dormix/etc/settings
  rmmod dormix_gpio
  rmmod dormix_testchip
fi

# The last act of the guest (the init runs /tmp/final-act): lpm powers it
# off with the RTC alarm set 20 s ahead, read back and logged first.
printf 'method=poweroff\npoweroff_command=/tmp/poweroff-check\n' >/opt/dormix/etc/lpm
cat >/tmp/poweroff-check <<'CHECK'
#!/bin/sh
# Run by lpm in place of the kernel's power-off: judges what lpm did first.
problems=""
now=$(cat /sys/class/rtc/rtc0/since_epoch)
alarm=$(cat /sys/class/rtc/rtc0/wakealarm)
# Set 20 s ahead at some time between the final act's start and now.
expected=$(($(cat /tmp/poweroff-started) + 20))
[ "$alarm" -ge "$expected" ] && [ "$alarm" -le $((now + 20)) ] ||
  problems="$problems; alarm $alarm, expected $expected to $((now + 20))"
# lpm logged before it ran this; syslogd writes the line when it gets to it.
tries=0
until grep -q 'poweroff: wake-up by the RTC alarm at' /tmp/messages || [ "$tries" -ge 300 ]; do
  sleep 0.1
  tries=$((tries + 1))
done
logged=$(grep 'poweroff: wake-up by the RTC alarm at' /tmp/messages)
when=$(date -u -d "@$alarm" '+%Y-%m-%d %H:%M:%S UTC')
case $logged in *"at $when (20 s; read back from /dev/rtc0)"*) ;; *) problems="$problems; log: $logged, alarm $when" ;; esac
if [ -z "$problems" ]; then
  echo "@@dormix-vm check board_poweroff pass alarm $when read back and logged: ${logged#*]: }"
else
  echo "@@dormix-vm check board_poweroff fail$problems"
fi
exec poweroff -f
CHECK
chmod 755 /tmp/poweroff-check
printf '#!/bin/sh\ncat /sys/class/rtc/rtc0/since_epoch >/tmp/poweroff-started\nexec lpm -i 20\n' >/tmp/final-act
echo "@@dormix-vm expect board_poweroff"
exit 0
