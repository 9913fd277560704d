#!/usr/bin/env bash
# The settings checker's figures: the stripped size of dormix-check on each
# target (release build, MinSizeRel). Builds it alone in
# build/footprint-check/TARGET.
# Usage: bench/check.sh [TARGET]...   (default: all seven)
# Exit status 1 if a target is over its size budget.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/targets.sh
# Stripped size budgets in bytes; targets without one are reported only.
declare -A budget=([armhf-static dormix-check]=81920)

targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all_targets[@]}")

echo "| target | dormix-check |"
echo "|---|---|"
over=0
for target in "${targets[@]}"; do
  size_row check "$target" tools/check ON dormix-check
done
exit "$over"
