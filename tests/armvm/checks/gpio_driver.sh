#!/bin/sh
# Guest check: the GPIO driver dormix_gpio, built for this guest's kernel,
# on the lines of the test-only dormix_testchip, whose levels it sets
# through sysfs (lines 0 to 2 with an interrupt, line 3 without). Levels go
# through /dev/gpio to gpio_probe.c and to the daemon's own binary_input_read
# (binary_input_probe). Reports:
#   @@dormix-vm check gpio_lines pass|fail     inputs, levels, active-low,
#                                              unconfigured inputs, refused lines
#   @@dormix-vm check gpio_requests pass|fail  unknown requests, concurrent readers
#   @@dormix-vm check gpio_unload pass|fail    unload while /dev/gpio is open
#   @@dormix-vm check gpio_wake pass|fail      wake, woken_by and its poll,
#                                              the disarm after a suspend
modules=/dormix/modules
probe=/dormix/checks/gpio_probe
reader=/dormix/bin/binary_input_probe
misc=/sys/class/misc/gpio
levels=/sys/devices/platform/dormix-testchip/levels
problems=""
problem() { problems="$problems; $*"; }
report() { # NAME DETAILS
  if [ -z "$problems" ]; then
    echo "@@dormix-vm check $1 pass $2"
  else
    echo "@@dormix-vm check $1 fail ${problems#; }"
  fi
  problems=""
}
expect() { # WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ] || problem "$1: '$3', not '$2'"
}
load() { insmod "$modules/dormix_gpio.ko" "$@" 2>/tmp/insmod.err; }
unload() { rmmod dormix_gpio 2>/dev/null; }
# wait_for FILE: a helper's marker, 30 s at most (a bound for failures only).
wait_for() {
  tries=300
  while [ ! -e "$1" ] && [ "$tries" -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
  [ -e "$1" ] || problem "no $1 after 30 s"
}
# armed_irqs: the driver's interrupts in /proc/interrupts.
armed_irqs() { grep -c ' input[01]$' /proc/interrupts; }

if ! insmod "$modules/dormix_testchip.ko"; then
  for name in gpio_lines gpio_requests gpio_unload gpio_wake; do
    echo "@@dormix-vm check $name fail dormix_testchip.ko does not load"
  done
  exit 1
fi
# The chip's device name, which input0= and input1= take as well as its label.
chip=$(cd /sys/devices/platform/dormix-testchip && ls -d gpiochip[0-9]*)

# Module parameters | inputs | levels of lines 0-3 | results of the two
# requests | levels binary_input_read gives (-19: ENODEV).
while IFS='|' read -r parameters inputs lines results daemon; do
  what="${parameters:-no parameters}, lines $lines"
  echo "$lines" >"$levels"
  # shellcheck disable=SC2086 # the parameters are separate words
  if ! load $parameters; then
    problem "$what: insmod failed: $(cat /tmp/insmod.err)"
    continue
  fi
  expect "$what: inputs" "$inputs" "$(cat "$misc/inputs")"
  expect "$what: inputs' length" $((${#inputs} + 1)) "$(wc -c <"$misc/inputs")"
  expect "$what: requests" "$results" "$("$probe" levels)"
  expect "$what: binary_input_read" "$daemon" "$("$reader" 0 1)"
  unload || problem "$what: rmmod failed"
done <<EOF
input0=dormix-testchip:0 input1=$chip:1|0 1|1000|1 0|1 0
input0=dormix-testchip:0 input1=$chip:1|0 1|0100|0 1|0 1
input0=dormix-testchip:2:active-low input1=$chip:1:active-low|0 1|0010|0 1|0 1
input1=dormix-testchip:3|1|0001|-19 1|0 1
input0=$chip:3:active-low|0|0000|1 -19|1 0
||1111|-19 -19|0 0
EOF
# Lines refused: insmod fails and leaves no /dev/gpio.
for parameters in input0=dormix-testchip:4 input0=no-such-chip:0 input0=dormix-testchip \
  input0=dormix-testchip:x input1=:1 input0=dormix-testchip:1:active-high \
  "input0=dormix-testchip:1 input1=$chip:1"; do
  # shellcheck disable=SC2086
  if load $parameters; then
    problem "$parameters: loaded"
    unload
  fi
  [ ! -e /dev/gpio ] || problem "$parameters: /dev/gpio left behind"
done
report gpio_lines "6 line sets, 7 refused"

echo 1100 >"$levels"
if load input0=dormix-testchip:0 input1=dormix-testchip:1:active-low; then
  expect "other requests" ok "$("$probe" unknown)"
  expect "4 concurrent readers" ok "$("$probe" readers 4 "1 0")"
  report gpio_requests "10 other requests ENOTTY, 4 readers x 1000 requests"

  # Unload while a process holds /dev/gpio: refused, and the open file
  # still answers; once it is closed, the unload goes through.
  rm -f /tmp/held
  mkfifo /tmp/hold.in
  "$probe" hold /tmp/held </tmp/hold.in >/tmp/hold.out &
  holder=$!
  exec 3>/tmp/hold.in
  wait_for /tmp/held
  ! rmmod dormix_gpio 2>/dev/null || problem "rmmod dormix_gpio while open: done"
  [ -c /dev/gpio ] || problem "/dev/gpio gone while open"
  ! rmmod dormix_testchip 2>/dev/null || problem "rmmod dormix_testchip with lines held: done"
  echo go >&3
  exec 3>&-
  wait "$holder"
  expect "requests after the refused unload" "1 0" "$(cat /tmp/hold.out)"
  unload || problem "rmmod after the close failed"
  [ ! -e /dev/gpio ] || problem "/dev/gpio left after rmmod"
  report gpio_unload "rmmod refused while open, done after the close"
else
  problem "insmod failed: $(cat /tmp/insmod.err)"
  report gpio_requests
  echo "@@dormix-vm check gpio_unload fail not loaded"
fi

# arm_fails WHAT: arming must fail and leave nothing armed.
arm_fails() {
  ! echo 1 2>/dev/null >"$misc/wake" || problem "$1: armed"
  expect "$1: wake" 0 "$(cat "$misc/wake")"
  expect "$1: interrupts" 0 "$(armed_irqs)"
}
# woken_after LINES: waits on woken_by while the lines change; its value.
woken_after() {
  rm -f /tmp/woken
  "$probe" woken /tmp/woken >/tmp/woken.out &
  waiter=$!
  wait_for /tmp/woken
  echo "$1" >"$levels"
  wait "$waiter"
  cat /tmp/woken.out
}
load && arm_fails "no inputs"
unload
load input0=dormix-testchip:0 input1=dormix-testchip:3 && arm_fails "input 1 without interrupt"
unload
echo 0000 >"$levels"
load input0=dormix-testchip:0 input1=dormix-testchip:1:active-low
echo 1 >"$misc/wake" || problem "arming failed"
expect "armed: wake" 1 "$(cat "$misc/wake")"
expect "armed: interrupts" 2 "$(armed_irqs)"
expect "armed: woken_by" none "$(cat "$misc/woken_by")"
expect "input 1 changed: woken_by" 1 "$(woken_after 0100)"
expect "then input 0: woken_by still" 1 "$(woken_after 1100)"
echo 1 >"$misc/wake"
expect "armed again: woken_by" none "$(cat "$misc/woken_by")"
expect "armed again, input 0 changed: woken_by" 0 "$(woken_after 0100)"
echo 0 >"$misc/wake"
expect "disarmed: wake" 0 "$(cat "$misc/wake")"
expect "disarmed: interrupts" 0 "$(armed_irqs)"
expect "disarmed: woken_by kept" 0 "$(cat "$misc/woken_by")"
# A suspend to idle, taken as far as the devices' suspend by the kernel's
# test mode, which resumes after 5 s without a wake source: the driver
# disarms after it.
echo 1 >"$misc/wake"
echo devices >/sys/power/pm_test || problem "no suspend test mode"
echo freeze >/sys/power/state || problem "the test suspend failed"
echo none >/sys/power/pm_test
expect "after a suspend: wake" 0 "$(cat "$misc/wake")"
expect "after a suspend: interrupts" 0 "$(armed_irqs)"
unload || problem "rmmod failed"
report gpio_wake "edges of both inputs seen by poll; disarmed after a suspend"
unload # if a check above left it loaded
rmmod dormix_testchip || { echo "@@dormix-vm check gpio_cleanup fail rmmod dormix_testchip"; exit 1; }
