#!/usr/bin/env bash
# The POSIX stubs as shipped: statically linked (no program interpreter, no
# shared library and no C library version needed, so that they start on any
# Linux of their processor), of a bounded size, and working: each packs,
# tests, lists and extracts a tree. The x86-64 stub of this build runs
# natively; the aarch64 one (build/aarch64, when built) under qemu-aarch64,
# packed with quillon-pack --target linux-aarch64.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${QUILLON_BINARY_DIR:-$here/../../build/native}/bin" && pwd)
pack="$bin/quillon-pack"
[ -x "$pack" ] || { echo "no packer at $pack"; exit 1; }
cd "$work"

# What the linker leaves for the system's loader: none of it in a static
# program. (The stub links the C++ runtime and the C library; 1.4 MiB bounds
# what they and the core take today.)
largest=$((1536 * 1024))
static_elf() {  # static_elf NAME STUB MACHINE
  local name=$1 stub=$2 machine=$3
  check "$name: an ELF for $machine" grep -q "Machine: *$machine" <(readelf -h "$stub")
  check "$name: no program interpreter" bash -c "! readelf -lW '$stub' | grep -qE 'INTERP|Requesting program interpreter'"
  check "$name: no dynamic section" bash -c "! readelf -dW '$stub' | grep -q NEEDED"
  check "$name: no C library version needed" bash -c "! readelf -VW '$stub' | grep -q GLIBC_"
  check "$name: file says statically linked" grep -q "statically linked" <(file -b "$stub")
  local size
  size=$(stat -c %s "$stub")
  echo "$name: $size bytes"
  check "$name: $size bytes, at most $largest" [ "$size" -le "$largest" ]
}

# A tree with a nested folder, a link, an executable and random bytes.
mkdir -p src/tree/deep/er
cp /usr/share/common-licenses/GPL-3 src/tree/
head -c 300000 /dev/urandom >src/tree/deep/random.bin
printf '#!/bin/sh\necho ran\n' >src/tree/deep/er/run.sh && chmod 755 src/tree/deep/er/run.sh
ln -s ../GPL-3 src/tree/deep/licence

# works NAME RUNNER... : packs the tree for the target, then --version, -l,
# -t and an extraction through RUNNER (nothing, or the emulator).
works() {
  local name=$1; shift
  check "$name: --version" grep -qE '^quillon-sfx [0-9]+\.[0-9]+\.[0-9]+' <("$@" ./"$name.run" --version 2>err)
  check "$name: -l lists the tree" grep -q 'tree/deep/er/run.sh' <("$@" ./"$name.run" -l 2>err)
  check "$name: -t finds every entry sound" "$@" ./"$name.run" -t >/dev/null 2>err
  rm -rf "x-$name"
  check "$name: -q -d extracts" "$@" ./"$name.run" -q -d "x-$name" 2>err
  check "$name: the same tree" diff -r src/tree "x-$name/tree"
  check "$name: the link stays a link" [ "$(readlink "x-$name/tree/deep/licence")" = ../GPL-3 ]
  check "$name: the mode is kept" [ -x "x-$name/tree/deep/er/run.sh" ]
}

stub="$bin/quillon-sfx"
static_elf x86-64 "$stub" "Advanced Micro Devices X86-64"
"$pack" --target linux-x86_64 -o x86-64.run src/tree 2>err || fail "packing for linux-x86_64"
check "the default target is this machine's" cmp -n "$(stat -c %s "$stub")" "$stub" x86-64.run
works x86-64

arm="$bin/../../aarch64/bin/quillon-sfx"
if [ -x "$arm" ] && command -v qemu-aarch64 >/dev/null; then
  static_elf aarch64 "$arm" AArch64
  "$pack" --target linux-aarch64 -o aarch64.run src/tree 2>err || fail "packing for linux-aarch64"
  check "--target linux-aarch64 takes the aarch64 build's stub" cmp -n "$(stat -c %s "$arm")" "$arm" aarch64.run
  # No -L: a static program needs no C library of its processor.
  works aarch64 qemu-aarch64
else
  echo "no aarch64 stub (build the aarch64 preset) or no qemu-aarch64: its checks are skipped"
fi

"$pack" --target linux-sparc -o no.run src/tree 2>err
check "an unknown target is refused, naming the targets" grep -q 'unknown target "linux-sparc" (targets: linux-x86_64, linux-aarch64, windows)' err

summary
