#!/usr/bin/env bash
# The 64-bit stub with its resources rewritten (tools/quillon-resources: an
# icon, a version block, the manifest asking for administrator rights) still
# runs under wine64, in a Wine prefix and X display of its own: a zip is
# appended (offsets adjusted by zip -A), and -t and -l print what they print
# for the stub as built. Should Wine refuse requireAdministrator, the admin
# manifest is only noted, and the same program with asInvoker must run.
#
# The program: QUILLON_WIN64_STUB (default build/win64/bin/quillon-sfx.exe);
# the test is skipped with a message when it or a tool is missing.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-$here/../..}" && pwd)
binary_dir=${QUILLON_BINARY_DIR:-$source_dir/build/native}
stub64=${QUILLON_WIN64_STUB:-$source_dir/build/win64/bin/quillon-sfx.exe}
tool="$binary_dir/bin/quillon-resources"
wine=/usr/lib/wine/wine64

missing=""
[ -f "$stub64" ] || missing+=" $stub64"
[ -x "$tool" ] || missing+=" $tool"
for program in "$wine" /usr/lib/wine/wineserver Xvfb xdotool zip icotool convert; do
  command -v "$program" >/dev/null || missing+=" $program"
done
if [ -n "$missing" ]; then
  skip_all "the rewritten stub under Wine; missing:$missing"
fi

# shellcheck source=../support/wine_gui.sh
. "$source_dir/tests/support/wine_gui.sh"
cd "$work"

# run NAME PROGRAM SWITCH: the program's standard output in NAME.out (Unix
# line ends), its exit code in $code.
run() {
  timeout 120 "$wine" "$2" "$3" >"$1.raw" 2>"$1.err" </dev/null
  code=$?
  tr -d '\r' <"$1.raw" >"$1.out"
}

for size in 16 32; do convert -size ${size}x${size} xc:'#cc3333' PNG32:icon$size.png; done
convert -size 256x256 xc:'#3333cc' PNG32:icon256.png
icotool -c -o maker.ico icon16.png icon32.png --raw=icon256.png
version='ProductName=Photo Viewer;FileVersion=3.1.4.1;CompanyName=Example Ltd;FileDescription=Photo Viewer Setup;LegalCopyright=© 2024 nobody'

mkdir -p payload/sub && echo "first" >payload/a.txt && head -c 100000 /dev/urandom >payload/sub/b.bin
zip -qr payload.zip payload
# program NAME STUB: the stub with the zip appended, offsets adjusted.
program() { cat "$2" payload.zip >"$1" && zip -qA "$1"; }
program plain.exe "$stub64"
run plain plain.exe -t
[ "$code" = 0 ] && grep -qx "ok: payload/a.txt" plain.out && pass || fail "the stub as built tests its archive (exit $code)"
run plain-list plain.exe -l

# expect_runs NAME: -t and -l of NAME.exe say what the stub as built says.
expect_runs() {
  run "$1" "$1.exe" -t
  if [ "$code" = 0 ] && cmp -s "$1.out" plain.out; then pass; else
    fail "$1: -t (exit $code)"; head -5 "$1.out" "$1.err"; fi
  run "$1-list" "$1.exe" -l
  if [ "$code" = 0 ] && cmp -s "$1-list.out" plain-list.out; then pass; else
    fail "$1: -l (exit $code)"; head -5 "$1-list.out" "$1-list.err"; fi
}

if "$tool" --icon maker.ico --version-info "$version" --admin "$stub64" admin-stub.exe; then pass; else
  fail "the editor rewrites the stub with --admin"; fi
"$tool" --icon maker.ico --version-info "$version" "$stub64" invoker-stub.exe || fail "the editor rewrites the stub"
program admin.exe admin-stub.exe
program invoker.exe invoker-stub.exe

run admin admin.exe -t
if [ "$code" = 0 ]; then
  expect_runs admin
else
  echo "note: this Wine does not start a program whose manifest asks for requireAdministrator (exit $code);" \
    "the admin manifest is checked by tests/scripts/pe_resources.sh only"
fi
expect_runs invoker

summary
