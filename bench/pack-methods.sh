#!/usr/bin/env bash
# Payload sizes of the packer's methods beside per-entry LZMA Zip made by
# 7-Zip (`7z a -tzip -mm=LZMA -mx9`), in one run, on a copy of a Python
# standard library (/usr/lib/python3.11, links followed with cp -rL: the
# tree holds a link to /etc). Two trees: the whole folder, and the folder
# without config-3.11-* (what libpython3.11-dev adds: the static library
# and its build files), the standard library alone. The payload is the Zip
# archive alone: the packer writes it after an empty stub.
#
#   bench/pack-methods.sh [BUILD_DIR]    (default build/native)
# Environment: BENCH_DIR (scratch, default /tmp/quillon-bench-methods),
# PYTHON_LIB (default /usr/lib/python3.11).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/native}" && pwd)
bench="${BENCH_DIR:-/tmp/quillon-bench-methods}"
lib="${PYTHON_LIB:-/usr/lib/python3.11}"
command -v /usr/bin/time >/dev/null || { apt-get install -y -qq time >/dev/null; }

rm -rf "$bench" && mkdir -p "$bench/whole" "$bench/stdlib"
cp -rL "$lib" "$bench/whole/" 2>/dev/null || true
cp -rL "$lib" "$bench/stdlib/" 2>/dev/null || true
rm -rf "$bench/stdlib/$(basename "$lib")"/config-*
name=$(basename "$lib")

tools=("quillon-pack -6 (deflate)" "quillon-pack -12 (deflate)" "quillon-pack --method zstd -12"
  "quillon-pack --method lzma -6" "quillon-pack --method lzma -12" "7z a -tzip -mm=LZMA -mx9")
command_of() {  # command_of TOOL_INDEX OUTPUT: run in the tree's folder
  local pack="'$build/bin/quillon-pack' --stub /dev/null -o '$2'"
  case $1 in
    0) echo "$pack -6 $name" ;;
    1) echo "$pack -12 $name" ;;
    2) echo "$pack --method zstd -12 $name" ;;
    3) echo "$pack --method lzma -6 $name" ;;
    4) echo "$pack --method lzma -12 $name" ;;
    5) echo "7z a -tzip -mm=LZMA -mx9 -bd '$2' $name >/dev/null" ;;
  esac
}

echo
echo "Payload bytes (Zip archive, no stub) and wall time on $(nproc) cores."
echo
echo "| tool | $name: size | wall | stdlib only: size | wall |"
echo "|---|---|---|---|---|"
for i in "${!tools[@]}"; do
  row="| ${tools[$i]} |"
  for tree in whole stdlib; do
    out="$bench/out-$tree-$i.zip"
    wall=$(cd "$bench/$tree" && /usr/bin/time -f "%e" bash -c "$(command_of "$i" "$out")" 2>&1 >/dev/null | tail -1)
    size=$(stat -c %s "$out")
    row+=$(awk -v s="$size" -v w="$wall" 'BEGIN { printf " %.2f MB (%d) | %.1f s |", s / 1e6, s, w }')
  done
  echo "$row"
done
echo
for tree in whole stdlib; do
  echo "$tree: $(find "$bench/$tree" -type f | wc -l) files, $(du -sb "$bench/$tree" | cut -f1) bytes"
done
rm -rf "$bench"
