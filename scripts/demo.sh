#!/usr/bin/env bash
# Builds everything and runs the main job. Until the stubs exist this builds
# the three targets and says what is not there yet.
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
