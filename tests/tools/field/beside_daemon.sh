#!/bin/sh
# Put before the daemon with dormix-sim --wrap, inside the simulated router:
# runs dormix-check --now once, then dormix-check --watch beside the daemon
# until SIGINT after SECONDS, and reports each exit status; then becomes the
# daemon. Everything it prints lands in the run's timeline as output.
# Usage: beside_daemon.sh CHECKER SECONDS DAEMON...
checker=$1
seconds=$2
shift 2
"$checker" --now
echo "dormix-check --now: exit $?"
(
  timeout --preserve-status -s INT "$seconds" "$checker" --watch
  echo "dormix-check --watch: exit $?"
) &
exec "$@"
