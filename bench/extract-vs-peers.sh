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
# Environment: BENCH_DIR (scratch, default /tmp/quillon-bench), RUNS (3),
# WHERE (disk, memory or both, the default).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/native}" && pwd)
bench="${BENCH_DIR:-/tmp/quillon-bench}"
runs="${RUNS:-3}"
scripts/setup.sh
command -v /usr/bin/time >/dev/null || { apt-get install -y -qq time >/dev/null; }

mkdir -p "$bench"
corpus="$bench/corpus"
bench/corpus.sh "$bench"
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

# The stub twice: on one thread per processor (its default) and on one.
tools=("quillon-sfx -q" "unzip -q -o" "bsdtar -xf" "7z x -y" "python3 zipfile" "quillon-sfx -q -j 1")
command_of() {  # command_of TOOL_INDEX ARCHIVE
  case $1 in
    0) echo "'$bench/$2.sfx' -q" ;;
    1) echo "unzip -q -o '$bench/$2.zip'" ;;
    2) echo "bsdtar -xf '$bench/$2.zip'" ;;
    3) echo "7z x -y '$bench/$2.zip'" ;;
    4) echo "python3 -c 'import zipfile; zipfile.ZipFile(\"$bench/$2.zip\").extractall()'" ;;
    5) echo "'$bench/$2.sfx' -q -j 1" ;;
  esac
}

# once FOLDER COMMAND: one run into FOLDER, which must not exist yet;
# prints "wall user system peak-KiB exit". What the run wrote is then
# flushed to the disk, outside the time, so that the next run is not slowed
# down by writing back this one's data.
once() {
  mkdir -p "$1"
  (cd "$1" && /usr/bin/time -f "%e %U %S %M %x" bash -c "$2" </dev/null 2>&1 >/dev/null | tail -1)
  sync
}

# table FOLDER [each]: every archive with every tool, each run into a folder of its
# own. The runs go round the tools (one run of each, then the next round),
# so that a slow spell of the system falls on all of them alike; the best
# run of each counts. Nothing is deleted until the table is done: ext4 skips
# inodes freed in the last minutes when it looks for a free one, so files
# created just after a large deletion cost many times more, and whichever
# tool ran next would pay for it; so the two corpus archives keep their
# outputs until both are done. Then they go, before the large file is
# timed, so that its runs do not have to win memory back from the cache of
# earlier outputs. In memory there is no inode cost: "each" deletes the
# outputs after every archive.
table() {
  local out=$1 each=${2:-} a i r line n=0
  forget "$out"
  [ -n "$each" ] || wait_for_inodes
  echo "| archive | tool | wall | CPU | peak memory | vs best peer |"
  echo "|---|---|---|---|---|---|"
  for a in corpus6 corpus0 large6 large0; do
    local best=()
    for r in $(seq "$runs"); do
      for i in "${!tools[@]}"; do
        n=$((n + 1))
        line=$(once "$out/$n" "$(command_of "$i" "$a")")
        if [ -z "${best[$i]:-}" ] || awk -v a="$line" -v b="${best[$i]}" 'BEGIN { split(a, x); split(b, y); exit !(x[1] < y[1]) }'; then
          best[$i]=$line
        fi
      done
    done
    local peer
    peer=$(for i in 1 2 3 4; do echo "${best[$i]}"; done | awk '$5 == 0 { if (m == "" || $1 < m) m = $1 } END { print m }')
    for i in "${!tools[@]}"; do
      # A run that failed (non-zero exit) is marked: its time means nothing.
      awk -v tool="${tools[$i]}" -v archive="$a" -v r="${best[$i]}" -v peer="$peer" -v own="$i" 'BEGIN { split(r, x);
        ratio = ((own == 0 || own == 5) && peer > 0) ? sprintf("%.2fx", x[1] / peer) : "";
        printf "| %s | %s | %.2f s | %.2f s | %.1f MiB | %s |%s\n", archive, tool, x[1], x[2] + x[3], x[4] / 1024, ratio,
          x[5] == 0 ? "" : " FAILED (exit " x[5] ")" }'
    done
    if [ -n "$each" ] || [ "$a" != corpus6 ]; then forget "$out"; fi
  done
  forget "$out"
}

# forget FOLDER: deletes it; on the disk also notes when, so that the next
# table on the disk (of this run or the next) waits until ext4 takes those
# inodes again: up to six minutes while their blocks are not written back.
stamp="$bench/deleted.stamp"
forget() {
  [ -e "$1" ] || return 0
  rm -rf "$1" && sync
  case $1 in /dev/shm/*) ;; *) touch "$stamp" ;; esac
}
wait_for_inodes() {
  [ -f "$stamp" ] || return 0
  local left=$((360 - ($(date +%s) - $(stat -c %Y "$stamp"))))
  if [ "$left" -gt 0 ]; then
    echo "waiting ${left} s for the inodes of the last deletion" >&2
    sleep "$left"
  fi
}

# Every run's output is kept until its table is done: room for all of them.
needed_kib=$(( (2 * bytes + 2 * (120 << 20)) * runs * ${#tools[@]} / 1024 ))
free_kib() { df -k "$1" | awk 'NR == 2 { print $4 }'; }

echo
echo "Corpus: $files files, $((bytes / 1024 / 1024)) MiB; large file alone: 120 MiB. Best of $runs runs, warm cache."
where="${WHERE:-both}"
if [ "$where" != memory ]; then
  echo
  echo "Into a folder on the disk ($(df -T "$bench" | awk 'NR == 2 { print $2 }')):"
  echo
  [ "$(free_kib "$bench")" -gt $((needed_kib + (1 << 20))) ] || { echo "not enough room in $bench: $needed_kib KiB needed" >&2; exit 1; }
  table "$bench/out"
fi
# The same in memory, where no disk or journal adds its own noise: what is
# left is each tool's own work and the system calls it makes.
if [ "$where" != disk ] && [ -d /dev/shm ] && [ "$(free_kib /dev/shm)" -gt $((bytes * runs * ${#tools[@]} / 1024 + (1 << 20))) ]; then
  echo
  echo "Into a folder in memory (tmpfs, /dev/shm):"
  echo
  table /dev/shm/quillon-bench-out each
fi
