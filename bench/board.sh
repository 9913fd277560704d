#!/usr/bin/env bash
# The board tools' figures: stripped sizes of dormix-lpm and dormix-status on
# each target (release build, MinSizeRel). Builds them alone in
# build/footprint-board/TARGET.
# Usage: bench/board.sh [TARGET]...   (default: all seven)
# Exit status 1 if a tool is over its size budget.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/targets.sh
# Stripped size budgets in bytes; targets without one are reported only.
declare -A budget=([armhf-static dormix-lpm]=40960 [armhf-static dormix-status]=24576)

targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=("${all_targets[@]}")

echo "| target | dormix-lpm | dormix-status |"
echo "|---|---|---|"
over=0
for target in "${targets[@]}"; do
  size_row board "$target" board OFF dormix-lpm dormix-status
done
exit "$over"
