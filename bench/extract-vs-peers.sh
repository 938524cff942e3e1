#!/usr/bin/env bash
# Extraction speed side by side: the POSIX stub (archive appended, -q),
# unzip, bsdtar, 7z and Python's zipfile extract the same archives into an
# empty folder in one run. Reports wall time, CPU time (user + system) and
# peak memory of each, best of several runs, as a Markdown table.
#
# Corpus: a few thousand small real files of this machine plus one large
# file made of real libraries, 300 MiB or more in all; archives by Info-ZIP
# zip -6 and zip -0. The large file is also timed alone (decode-bound).
#
#   bench/extract-vs-peers.sh [BUILD_DIR]    (default build/native)
# Environment: BENCH_DIR (scratch, default /tmp/quillon-bench), RUNS (3).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/native}" && pwd)
bench="${BENCH_DIR:-/tmp/quillon-bench}"
runs="${RUNS:-3}"
scripts/setup.sh
command -v /usr/bin/time >/dev/null || { apt-get install -y -qq time >/dev/null; }

mkdir -p "$bench"
corpus="$bench/corpus"
if [ ! -f "$bench/corpus.done" ]; then
  echo "building the corpus in $corpus" >&2
  rm -rf "$corpus" && mkdir -p "$corpus/small" "$corpus/large"
  # Small files (documentation, headers, scripts, libraries) with their
  # folders, up to about 190 MiB; one large file of real libraries, 120 MiB.
  python3 - "$corpus" <<'PY'
import os, shutil, sys
corpus = sys.argv[1]
roots = ["/usr/share/doc", "/usr/include", "/usr/share/perl5", "/usr/lib/python3", "/usr/lib/x86_64-linux-gnu"]
small, limit = 0, 190 << 20
for root in roots:
    for folder, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            size = os.path.getsize(path)
            if size > 2 << 20 or small + size > limit:
                continue
            target = os.path.join(corpus, "small", path.lstrip("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            try:
                shutil.copy2(path, target)
            except OSError:
                continue
            small += size
large, left = open(os.path.join(corpus, "large", "libraries.bin"), "wb"), 120 << 20
for folder, dirs, files in sorted(os.walk("/usr/lib")):
    dirs.sort()
    for name in sorted(files):
        path = os.path.join(folder, name)
        if left > 0 and ".so" in name and not os.path.islink(path) and os.path.getsize(path) > 1 << 20:
            with open(path, "rb") as f:
                chunk = f.read(left)
            large.write(chunk)
            left -= len(chunk)
PY
  touch "$bench/corpus.done"
fi
files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)

make_archives() {
  cd "$bench"
  [ -f corpus6.zip ] || (cd "$corpus" && zip -q -r -6 "$bench/corpus6.zip" .)
  [ -f corpus0.zip ] || (cd "$corpus" && zip -q -r -0 "$bench/corpus0.zip" .)
  [ -f large6.zip ] || (cd "$corpus/large" && zip -q -6 "$bench/large6.zip" libraries.bin)
  [ -f large0.zip ] || (cd "$corpus/large" && zip -q -0 "$bench/large0.zip" libraries.bin)
  for a in corpus6 corpus0 large6 large0; do
    "$build/bin/quillon-pack" -o "$bench/$a.sfx" "$bench/$a.zip"
  done
}
make_archives

# measure NAME COMMAND: best wall time of $runs runs into a fresh folder.
measure() {
  local best="" line
  for _ in $(seq "$runs"); do
    rm -rf "$bench/out" && mkdir "$bench/out"
    line=$(cd "$bench/out" && /usr/bin/time -f "%e %U %S %M %x" bash -c "$1" </dev/null 2>&1 >/dev/null | tail -1)
    if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN { split(a, x); split(b, y); exit !(x[1] < y[1]) }'; then
      best=$line
    fi
  done
  rm -rf "$bench/out"
  echo "$best"
}

row() {  # row TOOL ARCHIVE COMMAND
  local r; r=$(measure "$3")
  # A run that failed (non-zero exit) is marked: its time means nothing.
  awk -v tool="$1" -v archive="$2" -v r="$r" 'BEGIN { split(r, x);
    printf "| %s | %s | %.2f s | %.2f s | %.1f MiB |%s\n", archive, tool, x[1], x[2] + x[3], x[4] / 1024,
      x[5] == 0 ? "" : " FAILED (exit " x[5] ")" }'
}

echo
echo "Corpus: $files files, $((bytes / 1024 / 1024)) MiB; large file alone: 120 MiB. Best of $runs runs, warm cache."
echo
echo "| archive | tool | wall | CPU | peak memory |"
echo "|---|---|---|---|---|"
for a in corpus6 corpus0 large6 large0; do
  row "quillon-sfx -q" "$a" "'$bench/$a.sfx' -q"
  row "unzip -q -o" "$a" "unzip -q -o '$bench/$a.zip'"
  row "bsdtar -xf" "$a" "bsdtar -xf '$bench/$a.zip'"
  row "7z x -y" "$a" "7z x -y '$bench/$a.zip'"
  row "python3 zipfile" "$a" "python3 -c 'import zipfile; zipfile.ZipFile(\"$bench/$a.zip\").extractall()'"
done
