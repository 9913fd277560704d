# The settings page as a person uses it: busybox httpd serves dormix-web with
# basic authentication beside the daemon, in private namespaces; headless
# Chromium drives it, axe-core checks it, and the attacks go through the same
# server. Screenshots at 360 and 1280 px stay in build/web-e2e for CI.
set -euo pipefail
source tests/lib.sh
need_build_packages
need_packages busybox chromium chromium-driver python3-selenium strace util-linux faketime nodejs
# Debian's nodejs comes without npm; other builds of it bring their own.
command -v npm >/dev/null || need_packages npm

cmake --preset default >/dev/null
cmake --build --preset default --target dormix dormix-check dormix-web dormix_web_tests web_form_replay
run_tests_no_skips build/default/web-tests.log --test-dir build/default -L web
run_tests_no_skips build/default/web-fuzz-replay.log --test-dir build/default -R '^fuzz-replay\.web_form\.'

output=build/web-e2e
mkdir -p "$output"
[ -f "$output/node_modules/axe-core/axe.min.js" ] ||
  (cd "$output" && npm install --no-save --no-audit --no-fund --silent axe-core@4)
unshare --mount --pid --fork --mount-proc /usr/bin/python3 tests/web/e2e.py build/default . "$output"
