#!/usr/bin/env bash
# Builds everything and runs the main job: packs examples/sample/ into a
# self-extracting program for Linux and one for Windows with quillon-pack,
# runs the Linux one with "-q" in a fresh folder and lists what came out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done
echo
echo "built:"
ls -l build/native/bin build/win32/bin build/win64/bin
for program in build/native/bin/quillon-sfx build/win32/bin/quillon-sfx.exe build/native/bin/quillon-pack; do
  [ -e "$program" ] || echo "not there yet: $program"
done

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
echo
echo "packing examples/sample into $demo/sample.sfx (Linux) and $demo/sample.exe (Windows):"
build/native/bin/quillon-pack -o "$demo/sample.sfx" examples/sample
build/native/bin/quillon-pack --windows -o "$demo/sample.exe" examples/sample
ls -l "$demo/sample.sfx" "$demo/sample.exe"
build/native/bin/quillon-pack --list "$demo/sample.sfx"

echo
echo "running it with -q in a fresh folder:"
mkdir "$demo/out"
(cd "$demo/out" && "$demo/sample.sfx" -q)
echo "exit code $?; extracted:"
(cd "$demo/out" && find . -mindepth 1 | sort | sed 's|^\./|  |')
if diff -r examples/sample "$demo/out/sample" >/dev/null; then
  echo "the extracted folder equals examples/sample"
else
  echo "the extracted folder differs from examples/sample" >&2
  exit 1
fi
