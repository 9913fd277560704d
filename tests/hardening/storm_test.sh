#!/usr/bin/env bash
# A storm of 10,000 signals: 9,000 SIGCHLD while the daemon runs its tools,
# then 1,000 of SIGTERM, SIGINT, SIGQUIT and SIGCHLD mixed. The daemon must
# go on working through the first part and stop once, cleanly, on the second.
#   storm_test.sh SIMULATOR DAEMON
set -euo pipefail
here=$(dirname "$0")
scenario=$(mktemp "${TMPDIR:-/tmp}/dormix-storm.XXXXXX.scn")
trap 'rm -f "$scenario"' EXIT
{
  cat <<'SCN'
title a storm of 10,000 signals: SIGCHLD while working, then mixed stop signals
needs gpio
duration 8
settings
  MOD_DORMIX_SLEEP_BIN0_ENABLED=1
  MOD_DORMIX_SLEEP_BIN0_STATE=1
  MOD_DORMIX_SLEEP_BIN0_SECOND=1
  MOD_DORMIX_WAKEUP_DELAY0_ENABLED=1
  MOD_DORMIX_WAKEUP_DELAY0_SECOND=60
end
section ports
  Binary Input 0: on
end
input 0 1
lpm sleep 0.2
expect count 3.. lpm -i 60 within 1 4
expect gpio-read 0 within 3 4
expect count 1 log stopped within 4 6
expect exit 0 within 4 6
expect no-zombies
SCN
  # 9,000 SIGCHLD from 1 s to 4 s, 300 every 0.1 s.
  for step in $(seq 0 29); do
    at=$(printf '%d.%d' $((1 + step / 10)) $((step % 10)))
    for _ in $(seq 300); do echo "at $at signal CHLD"; done
  done
  names=(TERM INT QUIT CHLD)
  for i in $(seq 0 999); do echo "at 4.0 signal ${names[i % 4]}"; done
} >"$scenario"
"$here/check_run.sh" "$1" "$2" "$scenario" --quiet
