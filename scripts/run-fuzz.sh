#!/usr/bin/env bash
# Runs each libFuzzer target of build/fuzz for a few seconds, starting from its saved corpus.
# Usage: run-fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-15}"
status=0
for target in build/fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name="$(basename "$target" _fuzz)"
  work="build/fuzz/corpus-$name"
  mkdir -p "$work"
  # New inputs go to the scratch corpus; the saved one in fuzz/corpus is only read.
  if "$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
       "$work" "fuzz/corpus/$name" >"build/fuzz/$name.log" 2>&1; then
    echo "fuzz $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "build/fuzz/$name.log" | grep -o '[0-9]*$') inputs, no failure"
  else
    echo "fuzz $name: FAILED"; tail -n 40 "build/fuzz/$name.log"; status=1
  fi
done
exit $status
