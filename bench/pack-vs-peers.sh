#!/usr/bin/env bash
# Packing speed side by side: quillon-pack with one thread (-j 1) and with
# its default (one per core), Info-ZIP `zip -r -6` and `7z a -tzip` pack the
# same corpus (bench/corpus.sh) in one run. Reports wall time, CPU time
# (user + system), peak memory and the output's size of each, best of
# several runs, as a Markdown table; then checks that -j 1 and the default
# wrote the same bytes.
#
# quillon-pack's output includes the POSIX stub and is flushed to the disk
# (fsync) before it is renamed; the peers write a plain zip and do not flush.
#
#   bench/pack-vs-peers.sh [BUILD_DIR]    (default build/native)
# Environment: BENCH_DIR (scratch, default /tmp/quillon-bench), RUNS (3).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/native}" && pwd)
bench="${BENCH_DIR:-/tmp/quillon-bench}"
runs="${RUNS:-3}"
scripts/setup.sh
command -v /usr/bin/time >/dev/null || { apt-get install -y -qq time >/dev/null; }

mkdir -p "$bench"
bench/corpus.sh "$bench"
corpus="$bench/corpus"
out="$bench/pack-out"
rm -rf "$out" && mkdir -p "$out"
files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)

tools=("quillon-pack -j 1" "quillon-pack (default -j $(nproc))" "zip -r -6" "7z a -tzip")
outputs=(j1.sfx jn.sfx zip6.zip 7z.zip)
command_of() {  # command_of TOOL_INDEX: run in the corpus folder
  case $1 in
    0) echo "'$build/bin/quillon-pack' -j 1 -o '$out/j1.sfx' ." ;;
    1) echo "'$build/bin/quillon-pack' -o '$out/jn.sfx' ." ;;
    2) echo "zip -q -r -6 '$out/zip6.zip' ." ;;
    3) echo "7z a -tzip -bd '$out/7z.zip' . >/dev/null" ;;
  esac
}

# once COMMAND OUTPUT: one run, after the previous output is gone; prints
# "wall user system peak-KiB exit".
once() {
  rm -f "$2" && sync
  (cd "$corpus" && /usr/bin/time -f "%e %U %S %M %x" bash -c "$1" </dev/null 2>&1 >/dev/null | tail -1)
}

# The runs go round the tools (one run of each, then the next round), so
# that a slow spell of the machine falls on all of them alike; the best run
# of each counts.
best=()
for r in $(seq "$runs"); do
  for i in "${!tools[@]}"; do
    line=$(once "$(command_of "$i")" "$out/${outputs[$i]}")
    if [ -z "${best[$i]:-}" ] || awk -v a="$line" -v b="${best[$i]}" 'BEGIN { split(a, x); split(b, y); exit !(x[1] < y[1]) }'; then
      best[$i]=$line
    fi
  done
done

echo
echo "Corpus: $files files, $((bytes / 1024 / 1024)) MiB. Best of $runs runs, warm cache, $(nproc) cores."
echo
echo "| tool | wall | CPU | peak memory | output | speed vs -j 1 |"
echo "|---|---|---|---|---|---|"
single=$(echo "${best[0]}" | cut -d' ' -f1)
for i in "${!tools[@]}"; do
  size=$(stat -c %s "$out/${outputs[$i]}")
  awk -v tool="${tools[$i]}" -v r="${best[$i]}" -v size="$size" -v single="$single" 'BEGIN { split(r, x);
    printf "| %s | %.2f s | %.2f s | %.1f MiB | %.1f MiB | %.2fx |%s\n", tool, x[1], x[2] + x[3], x[4] / 1024,
      size / 1048576, single / x[1], x[5] == 0 ? "" : " FAILED (exit " x[5] ")" }'
done
echo
if cmp -s "$out/j1.sfx" "$out/jn.sfx"; then echo "-j 1 and the default wrote the same bytes."; else
  echo "-j 1 and the default wrote DIFFERENT bytes"; exit 1; fi
rm -rf "$out"
