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
  dir=build/footprint-board/$target
  configure=(-S . -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel -DDORMIX_TESTS=OFF -DDORMIX_TOOLS=OFF)
  [[ -n ${toolchain[$target]} ]] && configure+=("-DCMAKE_TOOLCHAIN_FILE=$PWD/${toolchain[$target]}")
  mkdir -p build/footprint-board
  if ! { cmake "${configure[@]}" && cmake --build "$dir" --target dormix-lpm dormix-status -j 2; } \
    >"$dir.log" 2>&1; then
    cat "$dir.log" >&2
    echo "board: building the board tools for $target failed" >&2
    exit 1
  fi
  row="| $target |"
  for tool in dormix-lpm dormix-status; do
    "${strip_tool[$target]}" -o "$dir/$tool.stripped" "$dir/board/$tool"
    size=$(stat -c %s "$dir/$tool.stripped")
    limit=${budget[$target $tool]:-}
    row+=" $size${limit:+ (budget $limit)}"
    if [[ -n $limit && $size -gt $limit ]]; then
      row+=" OVER"
      over=1
    fi
    row+=" |"
  done
  echo "$row"
done
exit "$over"
