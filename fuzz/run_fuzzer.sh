#!/usr/bin/env bash
# Runs one libFuzzer binary for FUZZ_SECONDS (default 60). New inputs go to
# the scratch directory, which libFuzzer writes because it comes first; the
# in-tree corpus is only read. A crash leaves its input in the scratch
# directory's artifacts/ and fails the run. The full log stays beside it.
# Usage: run_fuzzer.sh FUZZER SCRATCH_DIR CORPUS_DIR DICTIONARY MAX_LEN
set -euo pipefail
fuzzer=$1 scratch=$2 corpus=$3 dictionary=$4 max_len=$5
seconds=${FUZZ_SECONDS:-60}
name=$(basename "$fuzzer")
log=$scratch/../$name.log

mkdir -p "$scratch/artifacts"
export UBSAN_OPTIONS=print_stacktrace=1
status=0
"$fuzzer" "$scratch" "$corpus" -dict="$dictionary" -max_len="$max_len" \
  -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$scratch/artifacts/" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "$name: failed; the input is in $scratch/artifacts/, the log in $log." >&2
  echo "Store the input in $corpus/ under a telling name along with the fix." >&2
  exit "$status"
fi
grep -E '^(INFO: seed corpus|Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log" |
  sed "s/^/$name: /"
