# Shared by the tools' shell tests: count failures, report them at the end.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# finish NAME: exits 1 if anything failed, else says NAME passed.
finish() {
  if [[ $failures -ne 0 ]]; then
    echo "$failures failures" >&2
    exit 1
  fi
  echo "$1 passed"
}
