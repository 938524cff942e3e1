#!/usr/bin/env bash
# Builds every target and runs every test: the native unit tests (under
# AddressSanitizer and UBSan) and end-to-end scripts (the heavy ones too;
# they also run the aarch64 stub under qemu-user and install and package
# what was built), the same unit tests cross-built for 64-bit Windows under
# wine64 and for Linux on aarch64 under qemu-user (without sanitizers), the
# main job (scripts/demo.sh), and a short fuzzing smoke run; the programs
# that run threads also under ThreadSanitizer.
#
# Everything the run writes outside the build folders (the tests' scratch
# folders, their Wine prefixes, Wine's server folders) goes into one folder
# of its own below TMPDIR, removed at the end: every run starts from what a
# new machine has.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillon-test.XXXXXX")
cleanup() {
  # The server of a prefix whose test was stopped before its own clean-up
  # (each prefix keeps its server's folder in the folder that holds it).
  find "$scratch" -name dosdevices -prune -printf '%h\n' 2>/dev/null | while read -r prefix; do
    export TMPDIR=$(dirname "$prefix") WINEPREFIX=$prefix
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 && /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT
export TMPDIR=$scratch

jobs=$(nproc)
status=0

for preset in native win32 win32-gcc win64 aarch64; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== tests: native"
# The multi-GiB Zip64 tests of the packer (tests/scripts/packer_heavy.sh)
# run here, not in a plain ctest run.
QUILLON_HEAVY_TESTS=1 ctest --preset native -j "$jobs" || status=1

echo "== tests: the extraction's worker threads under ThreadSanitizer"
# Only the programs that run threads: the extraction's, and the file
# layer's reads from several threads at once.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target test-extract test-io
for program in test-extract test-io; do
  TSAN_OPTIONS=halt_on_error=1 "build/tsan/bin/$program" --gtest_brief=1 || status=1
done

echo "== tests: win64 under Wine"
ctest --preset win64 || status=1

echo "== tests: aarch64 under qemu-user"
# A program that fails is run once more, its failure printed either way:
# test-zip failed once here under qemu and never again in many runs.
ctest --preset aarch64 -j "$jobs" --repeat until-pass:2 || status=1

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
