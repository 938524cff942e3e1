#!/usr/bin/env bash
# Builds the three targets and runs every test: the native unit tests (under
# AddressSanitizer and UBSan) and end-to-end scripts, the same unit tests
# cross-built for 64-bit Windows under wine64, the main job (scripts/demo.sh),
# and a short fuzzing smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
status=0

for preset in native win32 win64; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== tests: native"
ctest --preset native -j "$jobs" || status=1

echo "== tests: win64 under Wine"
. scripts/wine-session.sh
wine_session_start
ctest --preset win64 || status=1
wine_session_stop

echo "== the main job: scripts/demo.sh"
if ! demo=$(scripts/demo.sh 2>&1); then
  echo "$demo" | tail -30
  echo "scripts/demo.sh failed"
  status=1
fi

echo "== fuzzers: smoke run on the seed corpora"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
scripts/fuzz.sh 20 || status=1

exit $status
