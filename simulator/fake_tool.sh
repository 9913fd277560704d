#!/bin/sh
# The router's low-power tool (/usr/sbin/lpm) and status tool (/usr/bin/status),
# faked: each run is reported on the simulator's event pipe and does what the
# files of the run directory say. Built into dormix-sim, which installs it as both.
run=/dev/.dormix-sim # RUN_DIR in sandbox.h
tool=${0##*/}

# The descriptors the tool was given, the way the shell sees them: only
# builtins run before the list is taken, so the shell has opened nothing but
# its own script and, when preloaded, libfaketime its control file and shared
# memory (all left out).
fds=
for fd in /proc/$$/fd/*; do
  [ -e "$fd" ] || continue
  [ "$fd" -ef "$0" ] && continue
  own=
  for faketime_file in "$FAKETIME_TIMESTAMP_FILE" /dev/shm/faketime_shm_*; do
    [ -e "$faketime_file" ] && [ "$fd" -ef "$faketime_file" ] && own=1
  done
  [ -n "$own" ] && continue
  if [ "$fd" -ef /dev/null ]; then kind=null
  elif [ -p "$fd" ]; then kind=pipe
  elif [ -S "$fd" ]; then kind=socket
  elif [ -f "$fd" ]; then kind=file
  elif [ -d "$fd" ]; then kind=directory
  elif [ -c "$fd" ]; then kind=device
  else kind=other
  fi
  fds="$fds ${fd##*/}=$kind"
done
# The status tool's answer is chosen before its run is reported, so that
# the report says which answer the daemon got.
mode=
[ "$tool" = status ] && read -r mode <"$run/status-mode"
printf '%s\t%s\tstart\t%s\t%s\t%s\n' "$tool" "$$" "${fds# }" "$*" "$mode" >>"$run/events"

if [ "$tool" = lpm ]; then
  read -r seconds code <"$run/lpm-behaviour"
  [ "$seconds" = 0 ] || sleep "$seconds"
  printf 'lpm\t%s\tend\t%s\t\n' "$$" "$code" >>"$run/events"
  exit "$code"
fi
[ "$mode" = fail ] && exit 1
[ "$1" = -v ] && [ -f "$run/sections/$2" ] || exit 1
cat "$run/sections/$2" || exit 1
[ "$mode" = big ] && cat "$run/filler"
exit 0
