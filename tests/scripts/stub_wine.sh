#!/usr/bin/env bash
# The Windows stub from the outside, under wine64 and Xvfb: quiet
# extractions of archives made by real tools, the error message box (found
# with xdotool, its text read from Wine's message box trace), the overwrite
# question, a GUI run that types a destination and a masked passphrase, the
# progress window's count of files and Cancel in it, and the PE checks of
# the 32-bit product (also its DPI-awareness and dialog font).
#
# The programs: QUILLON_WIN64_STUB (default build/win64/bin/quillon-sfx.exe)
# and QUILLON_WIN32_STUB (default build/win32/bin/quillon-sfx.exe); a test
# whose program is missing is skipped with a message. With
# QUILLON_UPDATE_SCREENSHOTS=1 the dialogs' screenshots are copied to
# docs/screenshots/.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

source_dir=$(cd "${QUILLON_SOURCE_DIR:-$(dirname "$0")/../..}" && pwd)
binary_dir=${QUILLON_BINARY_DIR:-$source_dir/build/native}
stub64=${QUILLON_WIN64_STUB:-$source_dir/build/win64/bin/quillon-sfx.exe}
stub32=${QUILLON_WIN32_STUB:-$source_dir/build/win32/bin/quillon-sfx.exe}
title="Self-Extracting Archive"


# -- the 32-bit product: a PE32 GUI program importing only system DLLs,
#    whose image ends where its file ends
if [ -f "$stub32" ]; then
  if file "$stub32" | grep -q "PE32 executable (GUI) Intel 80386"; then pass; else
    fail "the product is a PE32 GUI program: $(file -b "$stub32")"; fi
  dlls=$(objdump -p "$stub32" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  system_dlls=" advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll "
  foreign=""
  for dll in $dlls; do [[ "$system_dlls" == *" $dll "* ]] || foreign+="$dll "; done
  if [ -n "$dlls" ] && [ -z "$foreign" ]; then pass; else fail "the product imports only system DLLs (imports: $dlls)"; fi
  # Sharp on a high-DPI screen, in the system's dialog font.
  if grep -qa '<dpiAwareness' "$stub32" && grep -qaP 'M\x00S\x00 \x00S\x00h\x00e\x00l\x00l\x00 \x00D\x00l\x00g\x00 \x002' "$stub32"
  then pass; else fail "the product declares itself DPI-aware and uses MS Shell Dlg 2"; fi
  if [ -x "$binary_dir/bin/test-image" ]; then
    if QUILLON_IMAGE_FILES="$stub32" "$binary_dir/bin/test-image" --gtest_filter='image_real.*' >"$work/image.log" 2>&1
    then pass; else
      fail "archive_offset of the product equals its file size"; tail -5 "$work/image.log"; fi
  else
    skip "archive_offset of the product: no test-image in $binary_dir/bin"
  fi
else
  skip "no 32-bit product at $stub32"
fi

missing=$(missing_tools /usr/lib/wine/wine64 /usr/lib/wine/wineserver Xvfb xdotool import zip 7z python3)
[ -f "$stub64" ] || missing+=" $stub64"
[ -z "$missing" ] || skip_all "the Windows stub under Wine; missing:$missing"

wine=/usr/lib/wine/wine64
# shellcheck source=../support/wine_gui.sh
. "$source_dir/tests/support/wine_gui.sh"

cd "$work"
sfx() { cat "$stub64" "$2" >"$1"; }

# start DIR PROGRAM ARGS...: runs the program in the background in a fresh
# folder DIR (launch: in the folder as it is), with its message box trace in
# a file of its own, $trace; `finish` waits for it and leaves its exit code
# in $code; wine_debug=CHANNELS chooses the trace (default +msgbox). A file
# per run because Wine's desktop process (explorer) is
# started by whichever program needs the desktop once the last one closed it,
# inherits that program's standard error and writes there from its own
# position: into a trace file that a later run emptied and wrote again, it
# would write over that run's lines.
runs=0
launch() {
  local dir=$1; shift
  runs=$((runs + 1))
  trace="$work/trace.$runs"
  (cd "$dir" && WINEDEBUG=${wine_debug:-+msgbox} exec timeout 120 "$wine" "$@" >/dev/null 2>"$trace") &
  program=$!
}
start() { rm -rf "$1" && mkdir -p "$1" && launch "$@"; }
finish() { wait "$program"; code=$?; }
run() { start "$@"; finish; }

# window [EXCEPT...]: waits for a window with the program's title (other
# than those given) and prints its id.
window() {
  local id
  for _ in $(seq 300); do
    for id in $(xdotool search --name "^$title\$" 2>/dev/null); do
      [[ " $* " == *" $id "* ]] || { echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}

# geometry ID: sets x, y, w, h of the window.
geometry() { eval "$(xdotool getwindowgeometry --shell "$1" | tr 'A-Z' 'a-z' | grep -E '^(x|y|width|height)=')"; w=$width; h=$height; }

# click ID DLU-X DLU-Y: clicks a point of the dialog given in dialog units,
# measured from the left and from the bottom of the 304x60 template (Wine
# draws a 3-pixel frame; the horizontal scale holds for both directions).
click() {
  geometry "$1"
  local scale_x1000=$(( (w - 6) * 1000 / 304 ))
  local px=$(( x + 3 + $2 * scale_x1000 / 1000 )) py=$(( y + h - 3 - (60 - $3) * scale_x1000 / 1000 ))
  xdotool mousemove "$px" "$py" click 1
}

# point at ID: keystrokes go to the window under the pointer.
point_at() { geometry "$1"; xdotool mousemove $((x + w / 2)) $((y + 8)); sleep 0.2; }

shot() {  # shot ID NAME: the window's picture into $work/screenshots
  mkdir -p "$work/screenshots"
  geometry "$1"
  sleep 0.5
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$work/screenshots/$2.png"
}

# The text of the last message box of the running program, from its trace.
box_text() {
  sed -n 's/.*trace:msgbox:MSGBOX_OnInit L"\(.*\)"\s*$/\1/p' "$trace" | tail -1 | sed 's/\\\\/\\/g'
}

same_tree() {
  if diff -r "$2" "$3" >/dev/null &&
     [ "$(cd "$2" && find . -type f -printf '%p %T@\n' | sort)" = "$(cd "$3" && find . -type f -printf '%p %T@\n' | sort)" ]
  then pass; else fail "$1: the extracted tree differs"; diff -r "$2" "$3" | head -5; fi
}

# The source tree: text, a binary, an empty file, nested and non-ASCII names.
src="$work/src"
mkdir -p "$src/tree/docs/deep/deeper" "$src/tree/καλημέρα" "$src/tree/bin"
cp /usr/share/common-licenses/GPL-3 "$src/tree/docs/"
head -c 300000 /dev/urandom >"$src/tree/bin/random.bin"
: >"$src/tree/docs/empty.txt"
echo "deep" >"$src/tree/docs/deep/deeper/leaf.txt"
echo "crème brûlée" >"$src/tree/καλημέρα/café.txt"
find "$src/tree" -exec touch -d '2021-06-15 10:20:30' {} +
(cd "$src" && zip -qrX ../infozip.zip tree && 7z a -tzip -bd ../7z.zip tree >/dev/null &&
  zip -qrX -P secret ../encrypted.zip tree)
python3 - "$src" <<'PY'
import os, sys, zipfile
src = sys.argv[1]
with zipfile.ZipFile(os.path.join(src, "..", "python.zip"), "w", zipfile.ZIP_DEFLATED) as archive:
    for root, folders, files in os.walk(os.path.join(src, "tree")):
        for name in sorted(folders + files):
            path = os.path.join(root, name)
            archive.write(path, os.path.relpath(path, src))
# 1 GiB of zeros in 8 files: long enough to cancel in the middle.
with zipfile.ZipFile(os.path.join(src, "..", "big.zip"), "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
    block = bytes(1 << 20)
    for i in range(8):
        with archive.open("big/part%d.bin" % i, "w") as part:
            for _ in range(128):
                part.write(block)
PY

# -- quiet extractions
for archive in infozip 7z python; do
  sfx "$archive.exe" "$archive.zip"
  run "x-$archive" "$work/$archive.exe" -q
  [ "$code" = 0 ] && pass || fail "$archive: quiet extraction (exit $code)"
  same_tree "$archive" "$src" "x-$archive"
done

# -- the later methods and AES encryption, as 7z, Python, bsdtar and the zstd
#    tool write them: quiet extractions, the passphrase from -p
(cd "$src" && 7z a -tzip -mm=LZMA -bd ../lzma.zip tree >/dev/null && 7z a -tzip -mm=Deflate64 -bd ../deflate64.zip tree >/dev/null &&
  7z a -tzip -mem=AES256 -psecret -bd ../aes256.zip tree >/dev/null &&
  7z a -tzip -mm=LZMA -mem=AES128 -psecret -bd ../aes128.zip tree >/dev/null &&
  bsdtar --format zip --options zip:encryption=aes256 --passphrase secret -cf ../bsdtar-aes.zip tree)
python3 - "$src" <<'PY'
import os, struct, subprocess, sys, zipfile, zlib
src = sys.argv[1]
with zipfile.ZipFile(os.path.join(src, "..", "python-lzma.zip"), "w", zipfile.ZIP_LZMA) as archive:
    for root, folders, files in os.walk(os.path.join(src, "tree")):
        for name in sorted(folders + files):
            path = os.path.join(root, name)
            archive.write(path, os.path.relpath(path, src))
# Zstandard entries (method 93): each file one frame of the zstd tool.
out, central, count = bytearray(), bytearray(), 0
for root, folders, files in os.walk(os.path.join(src, "tree")):
    for name in sorted(folders) + sorted(files):
        path = os.path.join(root, name)
        folder = os.path.isdir(path)
        raw = b"" if folder else open(path, "rb").read()
        data = raw if folder else subprocess.run(["zstd", "-q", "-c", path], check=True, capture_output=True).stdout
        zname = (os.path.relpath(path, src) + ("/" if folder else "")).encode()
        extra = struct.pack("<HHBI", 0x5455, 5, 1, int(os.path.getmtime(path)))
        fields = struct.pack("<HHHHHIII", 20 if folder else 63, 0x800, 0 if folder else 93, 0, 0x21,
                             zlib.crc32(raw), len(data), len(raw))
        offset = len(out)
        out += b"PK\x03\x04" + fields + struct.pack("<HH", len(zname), len(extra)) + zname + extra + data
        central += b"PK\x01\x02" + struct.pack("<H", 0x033F) + fields + struct.pack("<HHHHHII", len(zname), len(extra), 0, 0, 0, 0, offset) + zname + extra
        count += 1
out += central + b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, count, count, len(central), len(out), 0)
open(os.path.join(src, "..", "zstd.zip"), "wb").write(out)
PY
echo secret >"$work/secret.txt"
for archive in lzma deflate64 python-lzma zstd aes256 aes128 bsdtar-aes; do
  sfx "$archive.exe" "$archive.zip"
  run "x-$archive" "$work/$archive.exe" -q -p ../secret.txt
  [ "$code" = 0 ] && pass || fail "$archive: quiet extraction (exit $code)"
  same_tree "$archive" "$src" "x-$archive"
done

# -- files written on four threads and on one: the same files and times;
#    of two damaged entries the first in archive order is reported, and the
#    entries before it are written
python3 - <<'PY'
import struct, zipfile
with zipfile.ZipFile("many.zip", "w", zipfile.ZIP_DEFLATED) as archive:
    for i in range(600):
        archive.writestr("many/d%d/f%03d.txt" % (i % 7, i), ("line %d\n" % i) * (i % 97))
with zipfile.ZipFile("damaged.zip", "w", zipfile.ZIP_DEFLATED) as archive:
    for i in range(300):
        archive.writestr("d/f%03d.txt" % i, ("line %d\n" % i) * (50 + i))
data = bytearray(open("damaged.zip", "rb").read())
with zipfile.ZipFile("damaged.zip") as archive:
    for victim in ("d/f120.txt", "d/f250.txt"):
        # One bit of the stored CRC flipped, in both headers.
        data[archive.getinfo(victim).header_offset + 14] ^= 1
        pos = struct.unpack_from("<I", data, data.rfind(b"PK\x05\x06") + 16)[0]
        while data[pos:pos + 4] == b"PK\x01\x02":
            name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
            if data[pos + 46:pos + 46 + name_len].decode() == victim:
                data[pos + 16] ^= 1
            pos += 46 + name_len + extra_len + comment_len
open("damaged.zip", "wb").write(bytes(data))
PY
sfx many.exe many.zip
run j1 "$work/many.exe" -q -j 1
[ "$code" = 0 ] && pass || fail "-j 1: quiet extraction (exit $code)"
run j4 "$work/many.exe" -q -j 4
[ "$code" = 0 ] && pass || fail "-j 4: quiet extraction (exit $code)"
same_tree "-j 4 against -j 1" j1 j4
sfx damaged.exe damaged.zip
wine_debug=-all run damaged4 "$work/damaged.exe" -q -j 4
[ "$code" = 2 ] && pass || fail "-j 4 on a damaged archive: exit $code, not 2"
grep -q 'CRC mismatch, data is invalid: d/f120.txt' "$trace" && pass || { fail "-j 4: the first damaged entry is not the one reported"; head -3 "$trace"; }
[ "$(ls damaged4/d | grep -c '^f0\|^f1[01]')" = 120 ] && [ ! -e damaged4/d/f120.txt ] && pass ||
  fail "-j 4: the entries before the damaged one are not all there, or the damaged one is"

# -- the error message box (not with -q: switches_wine.sh): its title, its
#    exact text, OK closes it, exit 2. The box comes after the progress
#    window has gone, with the same title.
cp "$stub64" bare.exe
start bare "$work/bare.exe" -d out
for _ in $(seq 300); do grep -q 'MSGBOX_OnInit' "$trace" && break; sleep 0.1; done
if id=$(window); then
  shot "$id" error
  [ "$(xdotool getwindowname "$id")" = "$title" ] && pass || fail "the error box's title"
  text=$(box_text)
  [ "$text" = "format::zip::archive exception: cannot locate the end header: no archive follows the program." ] && pass ||
    fail "the error box's text: \"$text\""
  point_at "$id"; xdotool key Return
else
  fail "no error box for a stub without an archive"
fi
finish
[ "$code" = 2 ] && pass || fail "an error ends with exit code 2 (got $code)"

# -- the overwrite question (the OVERWRITE dialog, its text from Wine's
#    window-text trace; each of its buttons: switches_wine.sh): Return is
#    Yes and replaces, Escape stops with exit code 1
sfx infozip-again.exe infozip.zip
for answer in Return Escape; do
  rm -rf ow && mkdir -p ow/tree/docs && echo old >ow/tree/docs/GPL-3
  wine_debug=+win launch ow "$work/infozip-again.exe" -q
  if id=$(window); then
    [ "$answer" = Return ] && shot "$id" overwrite
    expected="$("$wine" winepath -w "$work/ow" 2>/dev/null | tr -d '\r')\\tree\\docs\\GPL-3 already exists. Overwrite it?"
    text=$(sed -n 's/.*trace:win:set_window_text L"\(.*already exists.*\)"\s*$/\1/p' "$trace" | tail -1 | sed 's/\\\\/\\/g')
    [ "$text" = "$expected" ] && pass || fail "the overwrite question: \"$text\", wanted \"$expected\""
    point_at "$id"; xdotool key "$answer"
  else
    fail "no overwrite question"
  fi
  finish
  if [ "$answer" = Return ]; then
    [ "$code" = 0 ] && cmp -s ow/tree/docs/GPL-3 "$src/tree/docs/GPL-3" && pass || fail "OK replaces the file (exit $code)"
  else
    [ "$code" = 1 ] && [ "$(cat ow/tree/docs/GPL-3)" = old ] && pass || fail "Cancel keeps the file and exits 1 (exit $code)"
  fi
done

# -- a GUI run: a destination typed into DESTINATION, a passphrase into
#    PASSPHRASE (a password field: its style, from Wine's edit control
#    trace, has ES_PASSWORD); everything lands below the typed folder
sfx encrypted.exe encrypted.zip
wine_debug=+msgbox,+edit start gui "$work/encrypted.exe"
if destination=$(window); then
  shot "$destination" destination
  click "$destination" 126 24          # into the field
  xdotool key End shift+Home
  xdotool type --delay 20 'typed\dest'
  xdotool key Return
  progress=$(window "$destination")
  if passphrase=$(window "$destination" "$progress"); then
    shot "$passphrase" passphrase
    point_at "$passphrase"
    xdotool type --delay 20 secret
    xdotool key Return
  else
    fail "no PASSPHRASE dialog"
  fi
else
  fail "no DESTINATION dialog"
fi
finish
[ "$code" = 0 ] && pass || fail "the GUI run ends with exit code 0 (got $code)"
same_tree "typed destination and passphrase" "$src" gui/typed/dest
style=$(sed -n 's/.*Creating .*edit control, style = \(0x[0-9a-f]*\).*/\1/p' "$trace" | tail -1)
[ -n "$style" ] && (( style & 0x20 )) && pass || fail "the passphrase field is masked (style ${style:-not traced})"

# -- AES with the passphrase typed into PASSPHRASE, then a wrong one: its
#    error box, and nothing written
for attempt in right wrong; do
  start "gui-aes-$attempt" "$work/aes256.exe" -d "aes-$attempt"
  if passphrase=$(window); then
    point_at "$passphrase"
    xdotool type --delay 20 "$([ $attempt = right ] && echo secret || echo terces)"
    xdotool key Return
  else
    fail "no PASSPHRASE dialog for AES"
  fi
  if [ $attempt = wrong ]; then
    if box=$(window "$passphrase"); then point_at "$box"; xdotool key Return; else fail "no error box for a wrong AES passphrase"; fi
  fi
  finish
  if [ $attempt = right ]; then
    [ "$code" = 0 ] && pass || fail "AES with the passphrase typed: exit 0 (got $code)"
    same_tree "AES with the passphrase typed" "$src" "gui-aes-right/aes-right"
  else
    [ "$code" = 2 ] && pass || fail "a wrong AES passphrase: exit 2 (got $code)"
    [[ "$(box_text)" == "format::zip::aes_cipher exception: bad passphrase: "* ]] && pass ||
      fail "a wrong AES passphrase: its message ($(box_text))"
    [ -z "$(find "gui-aes-wrong" -type f)" ] && pass || fail "a wrong AES passphrase writes nothing"
  fi
done

# -- a switch that is not exactly "-q" is refused with the usage text, on
#    standard error when that leads somewhere (here the trace file): exit
#    code 2 and nothing written (every switch: switches_wine.sh)
run upper "$work/infozip.exe" -Q
grep -qF 'quillon::self::options exception: unknown switch "-Q".' "$trace" && pass || fail "\"-Q\" is named as refused"
[ "$code" = 2 ] && [ -z "$(ls upper)" ] && pass || fail "\"-Q\" is refused: exit 2, nothing written (got $code)"

# -- Cancel in PROGRESS in the middle of a large archive: the program is
#    paused while the window is photographed and Cancel clicked; the click
#    takes effect at the next progress report
sfx big.exe big.zip
wine_debug=+win start big "$work/big.exe"
if destination=$(window); then
  point_at "$destination"; xdotool key Return
  if progress=$(window "$destination"); then
    kill -STOP "$program" 2>/dev/null
    pgrep -P "$program" | while read -r child; do kill -STOP "$child"; done
    sleep 1
    shot "$progress" progress
    click "$progress" 271 43
    pgrep -P "$program" | while read -r child; do kill -CONT "$child"; done
    kill -CONT "$program" 2>/dev/null
  else
    fail "no PROGRESS window"
  fi
else
  fail "no DESTINATION dialog for the large archive"
fi
finish
written=$(find big -type f | wc -l)
[ "$code" = 1 ] && [ "$written" -lt 8 ] && pass || fail "Cancel in PROGRESS: exit 1 before the end (got $code, $written files)"
counted=$(grep -o 'set_window_text L"[0-9]*%, file [0-9] of 8"' "$trace" | tail -1)
[ -n "$counted" ] && pass || fail "PROGRESS shows the percentage and the count of files"
rm -rf big

if [ "${QUILLON_UPDATE_SCREENSHOTS:-0}" = 1 ] && [ -d "$work/screenshots" ]; then
  mkdir -p "$source_dir/docs/screenshots"
  cp "$work/screenshots/"*.png "$source_dir/docs/screenshots/"
fi

summary
