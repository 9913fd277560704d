#!/usr/bin/env bash
# Presses a test guest's power button when the guest asks for it: after a
# console line "@@dormix-vm pulse-power-button N", N s after the guest's
# next "PM: suspend entry" (on the virt machines, a pulse on PL061 line 3).
# Runs until killed.
# Usage: tests/armvm/power_button.sh CONSOLE_LOG QMP_SOCKET
here=$(cd "$(dirname "$0")" && pwd)
delay=""
tail -F -n +1 "$1" 2>/dev/null | while IFS= read -r line; do
  line=${line%$'\r'}
  case $line in
    *"@@dormix-vm pulse-power-button "*) delay=${line##* } ;;
    *"PM: suspend entry"*)
      if [[ -n $delay ]]; then
        sleep "$delay"
        # Not a version manager's shim, which takes seconds to start.
        /usr/bin/python3 "$here/qmp_powerdown.py" "$2"
        delay=""
      fi
      ;;
  esac
done
