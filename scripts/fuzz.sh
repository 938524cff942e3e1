#!/usr/bin/env bash
# Runs every fuzzer for the given number of seconds (default 60) on a copy
# of its seed corpus, so the committed corpus stays small.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
status=0
shopt -s nullglob
for fuzzer in build/fuzz/bin/fuzz-*; do
  name="${fuzzer##*/fuzz-}"
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  echo "-- fuzz-$name for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "$work" 2>"$work.log"; then
    tail -40 "$work.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$work.log" | tail -2
  fi
  rm -rf "$work" "$work.log"
done
exit $status
