#!/usr/bin/env bash
# The settings page's figures: the stripped size of dormix-web on each target
# (release build, MinSizeRel), and the CPU time of one page load on this
# machine (user + system time of the program over LOADS loads of
# the page for the sample settings file with its time rules on, in a private
# mount namespace with a fake status tool).
# WEB_ZONE sets the page's TZ (default Europe/Berlin).
# Builds dormix-web alone in build/footprint-web/TARGET.
# Usage: bench/web.sh [TARGET]...   (default: all seven; LOADS=200)
# Exit status 1 if a target is over its size budget.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/targets.sh
need_packages util-linux python3
# Stripped size budgets in bytes; targets without one are reported only.
declare -A budget=([armhf-static dormix-web]=98304)

targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all_targets[@]}")

echo "| target | dormix-web |"
echo "|---|---|"
over=0
for target in "${targets[@]}"; do
  size_row web "$target" web ON dormix-web
done

# CPU time per page load, host build and, when this run built it, the static
# x86-64 one: the whole program, from exec to exit; the minimum and the
# median, which a busy machine disturbs least, and the mean.
cmake --preset default >/dev/null
cmake --build --preset default --target dormix-web >/dev/null
programs=(build/default/web/dormix-web)
[[ " ${targets[*]} " == *" x86-64-static "* ]] && programs+=(build/footprint-web/x86-64-static/web/dormix-web)
unshare --mount /usr/bin/python3 - "${LOADS:-200}" "${WEB_ZONE:-Europe/Berlin}" "${programs[@]}" <<'PYTHON'
import os, statistics, subprocess, sys
loads, zone, programs = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
subprocess.run(["mount", "--make-rprivate", "/"], check=True)
subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=755", "tmpfs", "/opt"], check=True)
os.makedirs("/opt/dormix/etc")
# The router's status tool, as the guest bench fakes it, over /usr in this
# namespace only: the page asks it, and its runs count in the page's time.
for part in ("upper/bin", "work"):
    os.makedirs(f"/opt/bench-usr/{part}")
with open("/opt/bench-usr/upper/bin/status", "w") as tool:
    tool.write('#!/bin/sh\necho "Binary Input 0: off"\n')
os.chmod("/opt/bench-usr/upper/bin/status", 0o755)
subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                "lowerdir=/usr,upperdir=/opt/bench-usr/upper,workdir=/opt/bench-usr/work", "/usr"],
               check=True)
# The sample with its time-of-day sleep and wake-up rules on, so that the
# page works out the week of firings and the daylight-saving days.
with open("packaging/settings.sample", "rb") as sample, open("/opt/dormix/etc/settings", "wb") as f:
    text = sample.read()
    for rule in (b"SLEEP_TIME0", b"WAKEUP_TIME0"):
        text = text.replace(b"MOD_DORMIX_" + rule + b"_ENABLED=0", b"MOD_DORMIX_" + rule + b"_ENABLED=1")
    f.write(text)
env = {"REQUEST_METHOD": "GET", "REMOTE_USER": "admin", "HTTP_HOST": "router", "TZ": zone}
for program in programs:
    times = []
    for _ in range(loads):
        with open(os.devnull, "wb") as null:
            child = subprocess.Popen([program], env=env, stdout=null)
            _, status, used = os.wait4(child.pid, 0)
        if status != 0:
            sys.exit("web: the page failed")
        times.append((used.ru_utime + used.ru_stime) * 1000)
    build = "static build" if "x86-64-static" in program else "default build"
    print(f"CPU time per page load (x86-64 host, {build}, TZ={zone}, {loads} loads): "
          f"minimum {min(times):.2f} ms, median {statistics.median(times):.2f} ms, "
          f"mean {statistics.mean(times):.2f} ms")
PYTHON
exit $over
