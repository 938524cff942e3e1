#!/usr/bin/env bash
# The Windows stub's work per file under Wine, beside a plain loop of
# CreateFileW, WriteFile, SetFileTime and CloseHandle over the same names
# (bench/wine/plain_loop.cpp, built here with the MinGW compiler), in one
# prefix and one run: COUNT small stored files in 100 folders, written by
# the plain loop, by the 64-bit stub with -j 1 and by the stub with its
# default threads. Wall, user and system time of each, best of RUNS.
#
#   bench/wine-files.sh [COUNT]     (default 70000; after a win64 build)
# Environment: RUNS (1).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
count=${1:-70000}
runs=${RUNS:-1}
stub="$source_dir/build/win64/bin/quillon-sfx.exe"
[ -f "$stub" ] || { echo "no 64-bit stub at $stub: cmake --preset win64 && cmake --build --preset win64" >&2; exit 1; }
scripts/setup.sh
command -v /usr/bin/time >/dev/null || apt-get install -y -qq time >/dev/null

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TMPDIR="$work"
wine=/usr/lib/wine/wine64
cd "$work"
# One display for every run, so that none pays for starting it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1; kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"

x86_64-w64-mingw32-g++ -O2 -std=c++17 -static -o plain.exe "$source_dir/bench/wine/plain_loop.cpp"
python3 - "$count" <<'PY'
import sys, zipfile
count = int(sys.argv[1])
with zipfile.ZipFile("files.zip", "w", zipfile.ZIP_STORED) as archive:
    for folder in range(100):
        archive.writestr("d%d/" % folder, b"")
    for i in range(count):
        archive.writestr("d%d/f%06d.txt" % (i % 100, i), b"x" * (i % 500))
PY
cat "$stub" files.zip >files.exe
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
"$wine" wineboot -i </dev/null >/dev/null 2>&1
# A first start of each program outside the times: Wine loads its DLLs.
(mkdir warm && cd warm && "$wine" "$work/plain.exe" 1 1 && "$wine" "$work/files.exe" -l) </dev/null >/dev/null 2>&1 || true

# once NAME COMMAND...: one run in an empty folder; "wall user system".
once() {
  local name=$1
  shift
  rm -rf "out-$name" && mkdir "out-$name"
  (cd "out-$name" && /usr/bin/time -f "%e %U %S" "$@" </dev/null 2>&1 >/dev/null | tail -1)
  rm -rf "out-$name"
}
echo "| program | wall | user | system | vs the plain loop |"
echo "|---|---|---|---|---|"
plain=""
for what in plain j1 default; do
  best=""
  for _ in $(seq "$runs"); do
    case $what in
      plain) line=$(once plain "$wine" "$work/plain.exe" "$count" 100) ;;
      j1) line=$(once j1 "$wine" "$work/files.exe" -q -j 1) ;;
      default) line=$(once default "$wine" "$work/files.exe" -q) ;;
    esac
    if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN { split(a, x); split(b, y); exit !(x[1] < y[1]) }'; then best=$line; fi
  done
  [ "$what" = plain ] && plain=$best
  awk -v what="$what" -v r="$best" -v p="$plain" -v n="$count" 'BEGIN { split(r, x); split(p, y);
    label = what == "plain" ? "plain loop" : what == "j1" ? "quillon-sfx.exe -q -j 1" : "quillon-sfx.exe -q";
    printf "| %s (%d files) | %.1f s | %.1f s | %.1f s | %s |\n", label, n, x[1], x[2], x[3],
      what == "plain" ? "" : sprintf("%.2fx", x[1] / y[1]) }'
done
