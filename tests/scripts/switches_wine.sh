#!/usr/bin/env bash
# The Windows stub's switches and overwrite dialog from the outside, under
# wine64 and Xvfb, in a Wine prefix of its own (made here, removed at the
# end): each of the dialog's five buttons clicked, Escape and closing the
# window, its exact text (from Wine's window-text trace); every switch and
# switch error with its exact text and exit code; -l and -t against
# quillon-pack's --list and --test; -l, -t and -h in a message box when no
# console is there; the command line split by the system's rules; and a
# signed program that extracts, lists and tests.
#
# The program: QUILLON_WIN64_STUB (default build/win64/bin/quillon-sfx.exe);
# the test is skipped with a message when it or a tool is missing. With
# QUILLON_UPDATE_SCREENSHOTS=1 the dialog's screenshot is copied to
# docs/screenshots/overwrite.png.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-$here/../..}" && pwd)
binary_dir=${QUILLON_BINARY_DIR:-$source_dir/build/native}
stub64=${QUILLON_WIN64_STUB:-$source_dir/build/win64/bin/quillon-sfx.exe}
pack="$binary_dir/bin/quillon-pack"
title="Self-Extracting Archive"
wine=/usr/lib/wine/wine64

missing=""
[ -f "$stub64" ] || missing+=" $stub64"
[ -x "$pack" ] || missing+=" $pack"
for tool in "$wine" /usr/lib/wine/wineserver Xvfb xdotool import zip python3 osslsigncode openssl; do
  command -v "$tool" >/dev/null || missing+=" $tool"
done
if [ -n "$missing" ]; then
  skip_all "the Windows stub's switches under Wine; missing:$missing"
fi

# shellcheck source=../support/wine_gui.sh
. "$source_dir/tests/support/wine_gui.sh"

cd "$work"
sfx() { cat "$stub64" "$2" >"$1"; }
# The Windows name of a folder here.
windows_name() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# start DIR PROGRAM ARGS...: runs the program in the background in DIR
# (made when missing), Wine's window-text and message box traces in
# $work/trace; `finish` waits and leaves the exit code in $code.
start() {
  local dir=$1; shift
  mkdir -p "$dir"
  (cd "$dir" && WINEDEBUG=+msgbox,+win exec timeout 120 "$wine" "$@" >"$work/out" 2>"$work/trace") &
  program=$!
}
finish() { wait "$program"; code=$?; }
# run DIR INPUT PROGRAM ARGS...: runs it in the foreground, standard output
# in $work/out (line ends as Unix ones), standard error in $work/err.
run() {
  local dir=$1 input=$2; shift 2
  mkdir -p "$dir"
  (cd "$dir" && printf '%b' "$input" | timeout 120 "$wine" "$@" >"$work/out.raw" 2>"$work/err.raw")
  code=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" >"$work/err"
}
said() {  # what the last run wrote, and which windows it opened
  sed 's/^/    stdout: /' "$work/out" | tail -6
  sed 's/^/    stderr: /' "$work/err" | tail -6
}
expect() {  # expect NAME CODE [EXACT-STDERR]
  local name=$1 wanted=$2
  if [ "$code" != "$wanted" ]; then fail "$name (exit $code, wanted $wanted)"; said; return; fi
  if [ $# -ge 3 ] && [ "$(cat "$work/err")" != "$3" ]; then
    fail "$name (standard error differs)"; said; echo "    wanted: $3" | head -4; return; fi
  pass
}
empty_folder() { [ -d "$1" ] && [ -z "$(ls -A "$1")" ]; }

# window [EXCEPT...]: waits for a window with the program's title and
# prints its id; `gone ID` waits until it has closed.
window() {
  local id
  for _ in $(seq 300); do
    for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
      # Shown, then given a moment to draw its controls before a click.
      [[ " $* " == *" $id "* ]] || { sleep 0.5; echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}
geometry() { eval "$(xdotool getwindowgeometry --shell "$1" | tr 'A-Z' 'a-z' | grep -E '^(x|y|width|height)=')"; w=$width; h=$height; }
# click ID DLU-X DLU-Y: a point of the 304x70 OVERWRITE template in dialog
# units, measured from the left and from the bottom (Wine draws a 3-pixel
# frame; its dialog font has the same scale in both directions).
click() {
  geometry "$1"
  local scale=$(( (w - 6) * 1000 / 304 ))
  xdotool mousemove $(( x + 3 + $2 * scale / 1000 )) $(( y + h - 3 - (70 - $3) * scale / 1000 )) click 1
}
point_at() { geometry "$1"; xdotool mousemove $((x + w / 2)) $((y + 8)); sleep 0.2; }
shot() {  # shot ID NAME
  mkdir -p "$work/screenshots"
  geometry "$1"
  sleep 0.5
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$work/screenshots/$2.png"
}
# The buttons' centres: Yes, Yes to All, No, No to All, Cancel at 22, 78,
# 134, 190 and 246, 50 wide; the row from 48 to 62.
button_x() { case $1 in yes) echo 47 ;; all) echo 103 ;; no) echo 159 ;; none) echo 215 ;; cancel) echo 271 ;; esac; }
# Every question the program asked, from the text it gave its windows.
questions() { sed -n 's/.*trace:win:set_window_text L"\(.*already exists.*\)"\s*$/\1/p' "$work/trace" | sed 's/\\\\/\\/g'; }
# box_is TEXT: whether the last message box showed TEXT. Wine's trace cuts
# long texts (after some 300 characters, ending them with "...): then the
# part it shows must be where TEXT begins.
box_is() {
  python3 - "$work/trace" "$1" <<'PY'
import re, sys
found = re.findall(r'trace:msgbox:MSGBOX_OnInit L"(.*)$', open(sys.argv[1], errors="replace").read(), re.M)
if not found:
    sys.exit(1)
line = found[-1].rstrip()
cut = line.endswith('"...')
line = line[:-4] if cut else line[:-1]
text = re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), line)
wanted = sys.argv[2]
sys.exit(0 if text == wanted or (cut and len(text) > 100 and wanted.startswith(text)) else 1)
PY
}

# -- the programs
src="$work/src"
mkdir -p "$src/two/sub"
echo "new a" >"$src/two/sub/a.txt"
echo "new b" >"$src/two/b.txt"
find "$src" -exec touch -d '2021-06-15 10:20:30' {} +
(cd "$src" && zip -qrX ../two.zip two && zip -qrX -P 'open sesame' ../secret.zip two)
sfx two.exe two.zip
sfx secret.exe secret.zip
old_time=$(date -d '2001-02-03 04:05:06' +%s)
old() {
  rm -rf "$1" && mkdir -p "$1/two/sub"
  echo "old a" >"$1/two/sub/a.txt" && echo "old b" >"$1/two/b.txt"
  touch -d "@$old_time" "$1/two/sub/a.txt" "$1/two/b.txt"
}
is_old() { [ "$(cat "$1")" = "old ${1: -5:1}" ] && [ "$(stat -c %Y "$1")" = "$old_time" ]; }
is_new() { [ "$(cat "$1")" = "new ${1: -5:1}" ]; }

# -- the overwrite dialog, button by button. Entry order: two/b.txt, then
#    two/sub/a.txt.
old ow
win_ow=$(windows_name "$work/ow")
qb="$win_ow\\two\\b.txt already exists. Overwrite it?"
qa="$win_ow\\two\\sub\\a.txt already exists. Overwrite it?"
# answer BUTTON...: one run over old files, a button clicked in each dialog
# that comes up; the questions in $asked.
answer() {
  old ow
  start ow "$work/two.exe" -q
  local seen="" id
  for button in "$@"; do
    if ! id=$(window $seen); then fail "no dialog for the answer $button"; break; fi
    seen+=" $id"
    case $button in
      escape) point_at "$id"; xdotool key Escape ;;
      close) point_at "$id"; xdotool key alt+F4 ;;
      *) click "$id" "$(button_x "$button")" 55 ;;
    esac
    # The next dialog, when one comes, is a new window.
    for _ in $(seq 100); do xdotool getwindowname "$id" >/dev/null 2>&1 || break; sleep 0.1; done
  done
  finish
  asked=$(questions)
}

answer yes no
check "Yes, then No: exit 0 (got $code)" [ "$code" = 0 ]
check "Yes replaced b.txt" is_new ow/two/b.txt
check "No kept a.txt, its content and its time" is_old ow/two/sub/a.txt
check "the question's text, for each file" [ "$asked" = "$qb"$'\n'"$qa" ]
[ "$asked" = "$qb"$'\n'"$qa" ] || echo "    asked: $asked"$'\n'"    wanted: $qb / $qa"

answer no yes
check "No, then Yes: exit 0 (got $code)" [ "$code" = 0 ]
check "No kept b.txt and went on" is_old ow/two/b.txt
check "Yes after No replaced a.txt" is_new ow/two/sub/a.txt

answer all
check "Yes to All: exit 0 (got $code)" [ "$code" = 0 ]
check "Yes to All replaced both files" bash -c "$(declare -f is_new); is_new ow/two/b.txt && is_new ow/two/sub/a.txt"
check "Yes to All asked once" [ "$asked" = "$qb" ]

answer none
check "No to All: exit 0 (got $code)" [ "$code" = 0 ]
check "No to All kept both files and their times" bash -c "old_time=$old_time; $(declare -f is_old); is_old ow/two/b.txt && is_old ow/two/sub/a.txt"
check "No to All asked once" [ "$asked" = "$qb" ]

for how in cancel escape close; do
  answer "$how"
  check "$how: exit 1 (got $code)" [ "$code" = 1 ]
  check "$how kept both files" bash -c "old_time=$old_time; $(declare -f is_old); is_old ow/two/b.txt && is_old ow/two/sub/a.txt"
done

# The screenshot, and the sentence for a symbolic link when Wine shows one.
old ow
start ow "$work/two.exe" -q
if id=$(window); then shot "$id" overwrite; click "$id" "$(button_x none)" 55; else fail "no dialog for the screenshot"; fi
finish
old ow; rm ow/two/b.txt; ln -s sub/a.txt ow/two/b.txt
answer none
if [ "$asked" = "$win_ow\\two\\b.txt already exists as a symbolic link. Overwrite it?" ]; then pass
elif [ "$asked" = "$qb" ]; then echo "note: this Wine shows symbolic links as plain files; the link sentence is not checked here"
else fail "the question for a symbolic link: \"$asked\""; fi

# -- -l, -t, -h and switch errors, printed to the standard handles Wine
#    gives a program started from a shell
"$pack" --list two.exe >pack-list.txt
run list "" "$work/two.exe" -l
expect "-l" 0 ""
check "-l prints what --list prints" cmp -s "$work/out" pack-list.txt
check "-l writes nothing" empty_folder list
"$pack" --test two.exe >pack-test.txt
run testing "" "$work/two.exe" -t
expect "-t on a good program" 0 ""
check "-t prints what --test prints" cmp -s "$work/out" pack-test.txt
cp two.exe damaged.exe
offset=$(python3 -c "
import zipfile; z = zipfile.ZipFile('damaged.exe'); i = z.getinfo('two/b.txt')
print(i.header_offset + 30 + len(i.filename.encode()) + len(i.extra) + i.compress_size // 2)")
printf '\x5a' | dd of=damaged.exe bs=1 seek="$offset" conv=notrunc status=none
run testing "" "$work/damaged.exe" -t
expect "-t on a damaged program" 2 ""
check "-t names the damaged entry and the error" grep -qx "DAMAGED: two/b.txt: format::zip::item_reader exception: CRC mismatch, data is invalid." "$work/out"
"$pack" --test damaged.exe >pack-test.txt
check "-t on the damaged program says what --test says" cmp -s "$work/out" pack-test.txt
check "-t on a damaged program writes nothing" empty_folder testing

# The usage text, as the POSIX stub prints it, naming this program.
mkdir posix && cp "$binary_dir/bin/quillon-sfx" posix/two.exe
usage=$(posix/two.exe -h)
run help "" "$work/two.exe" -h
expect "-h" 0 ""
check "-h prints the usage" [ "$(cat "$work/out")" = "$usage" ]
[ "$(cat "$work/out")" = "$usage" ] || diff <(echo "$usage") "$work/out" | head -5
run help "" "$work/two.exe" --help
expect "--help" 0 ""
switch_error() {  # switch_error MESSAGE ARGS...
  local message=$1; shift
  rm -rf wrong
  run wrong "" "$work/two.exe" "$@"
  expect "$* is refused" 2 "quillon::self::options exception: $message."$'\n\n'"$usage"
  check "$* writes nothing" empty_folder wrong
}
switch_error 'unknown switch "-z"' -z
switch_error 'unknown switch "-Q"' -Q
switch_error 'unexpected argument "x" (switches only)' -q x
switch_error '-d needs a folder' -q -d
switch_error '-p needs a file' -p
switch_error '-o and -n exclude each other' -o -n
switch_error '-l and -t exclude each other' -t -l

# -- extraction switches
rm -rf dee; run dee "" "$work/two.exe" -q -d "with blank/and deeper"
expect "-q -d with a blank" 0 ""
check "-d made the folders" diff -r "$src/two" "dee/with blank/and deeper/two"
# The command line as a Windows program gets it from cmd: quotes group.
rm -rf dee && mkdir dee && printf '%s\r\n' '@..\two.exe -q -d "quoted folder\with blanks"' >dee/extract.bat
run dee "" cmd /c extract.bat
expect "a quoted -d folder in a batch file" 0
check "the quoted folder is one argument" diff -r "$src/two" "dee/quoted folder/with blanks/two"
old ow; run . "" "$work/two.exe" -q -o -d ow
expect "-q -o -d" 0 ""
check "-o replaced both" bash -c "$(declare -f is_new); is_new ow/two/b.txt && is_new ow/two/sub/a.txt"
old ow; run . "" "$work/two.exe" -q -n -d ow
expect "-q -n -d" 0 ""
check "-n kept both and their times" bash -c "old_time=$old_time; $(declare -f is_old); is_old ow/two/b.txt && is_old ow/two/sub/a.txt"
# -d naming a file, or a folder below one: refused, saying so, before
# anything is written (with -q on standard error, no window).
rm -rf blocked && mkdir blocked && : >blocked/file
run blocked "" "$work/two.exe" -q -d file
expect "-d naming a file" 2 "quillon::self::entry exception: cannot extract into \"$(windows_name "$work/blocked/file")\": it is a file, not a folder."
run blocked "" "$work/two.exe" -q -d 'file\inside'
expect "-d below a file" 2 "quillon::self::entry exception: cannot make the folder \"$(windows_name "$work/blocked/file")\\inside\": \"$(windows_name "$work/blocked/file")\" is a file, not a folder."
check "-d naming a file writes nothing" bash -c "[ \"\$(ls -A blocked)\" = file ] && [ ! -s blocked/file ]"
start blocked "$work/two.exe" -d file
if id=$(window); then point_at "$id"; xdotool key Return; else fail "no error box for -d naming a file without -q"; fi
finish
check "without -q the error is in a box: exit 2 (got $code)" [ "$code" = 2 ]
check "the error box's text" box_is "quillon::self::entry exception: cannot extract into \"$(windows_name "$work/blocked/file")\": it is a file, not a folder."
# -d without -q: no destination question, the progress window only.
rm -rf gui; run gui "" "$work/two.exe" -d out
expect "-d without -q asks nothing" 0 ""
check "-d without -q extracted" diff -r "$src/two" gui/out/two

printf 'open sesame\r\n' >right.txt
printf 'wrong\n' >wrong.txt
rm -rf enc; run enc "" "$work/secret.exe" -q -p "$(windows_name "$work/right.txt")"
expect "-p with the right passphrase asks nothing" 0 ""
check "-p: the files come out right" diff -r "$src/two" enc/two
rm -rf enc; run enc "" "$work/secret.exe" -t -p ../right.txt
expect "-t -p with the right passphrase" 0 ""
rm -rf enc
first=$(unzip -Z1 secret.zip | grep -v '/$' | head -1)
run enc "" "$work/secret.exe" -q -p ../wrong.txt
expect "-p with a wrong passphrase" 2 "format::zip::encryption_header exception: bad passphrase: $first."
rm -rf enc; run enc "" "$work/secret.exe" -t -p ../wrong.txt
expect "-t -p with a wrong passphrase" 2 ""
check "-t -p wrong: each encrypted entry named as one the passphrase does not open" bash -c "
  [ \$(grep -c '^BAD PASSPHRASE: two/' '$work/out') = 2 ] && ! grep -q DAMAGED '$work/out'"

# -- without a console or a redirected handle (started by start.exe, as
#    from Explorer): the text in one message box; exit codes as always
boxed() {  # boxed DIR ARGS...: the program started that way; OK pressed
  local dir=$1; shift
  rm -rf "$dir"
  start "$dir" cmd /c start /wait '..\two.exe' "$@"
  if id=$(window); then point_at "$id"; xdotool key Return; else fail "no message box for $*"; fi
  finish
}
boxed boxhelp -h
check "-h in a message box" box_is "$usage"
check "-h in a message box: exit 0 (got $code)" [ "$code" = 0 ]
boxed boxwrong -z
check "a switch error in a message box" box_is "quillon::self::options exception: unknown switch \"-z\"."$'\n\n'"$usage"
check "a switch error in a message box: exit 2 (got $code)" [ "$code" = 2 ]

# -- -q, -l and -t: no window waits for a click, with the program's
#    handles redirected or none at all (started as from Explorer); errors
#    go to standard error, everything to the -log file
# unwatched DIR ARGS...: the program started without a console; every
# window of its title seen before it ends is counted in $windows (and
# closed, so that the test goes on).
unwatched() {
  local dir=$1 id; shift
  rm -rf "$dir"
  start "$dir" cmd /c start /wait "$@"
  windows=0
  while kill -0 "$program" 2>/dev/null; do
    for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
      windows=$((windows + 1)); point_at "$id"; xdotool key Return
    done
    sleep 0.1
  done
  finish
}
run quiet "" "$work/damaged.exe" -q -n
expect "-q -n failing, standard error redirected" 2
check "-q -n failing: the error on standard error" grep -qxF 'format::zip::item_reader exception: CRC mismatch, data is invalid: two/b.txt.' "$work/err"
unwatched quiet '..\damaged.exe' -q -n -log '..\quiet.log'
check "-q -n failing without a console: exit 2, no window (exit $code, $windows windows)" [ "$code" = 2 -a "$windows" = 0 ]
check "-q -n failing: the damaged file is not left" [ ! -e quiet/two/b.txt ]
tr -d '\r' <quiet.log >quiet.txt 2>/dev/null
check "-log: started, destination, each file, the error and the exit code" bash -c "
  grep -qx 'started: .*damaged.exe -q -n -log ..\\\\quiet.log' quiet.txt && grep -qx 'destination: .*quiet' quiet.txt &&
  grep -qx 'extracted: .*quiet.two.b.txt' quiet.txt && grep -qxF 'error: format::zip::item_reader exception: CRC mismatch, data is invalid: two/b.txt.' quiet.txt &&
  [ \"\$(tail -1 quiet.txt)\" = 'exit code: 2' ]"
unwatched unlisted '..\two.exe' -l -log '..\list.log'
check "-l without a console: exit 0, no window (exit $code, $windows windows)" [ "$code" = 0 -a "$windows" = 0 ]
check "-l: the listing is in the log" cmp -s <(sed '1d;$d' list.log) pack-list.txt
unwatched untested '..\damaged.exe' -t
check "-t of a damaged program without a console: exit 2, no window (exit $code, $windows windows)" [ "$code" = 2 -a "$windows" = 0 ]
unwatched unknown '..\two.exe' -q -z
check "-q with a switch error without a console: exit 2, no window (exit $code, $windows windows)" [ "$code" = 2 -a "$windows" = 0 ]

# -- a signed program: packed with the 64-bit stub, signed by osslsigncode
#    with a throw-away certificate and a chain that puts the end record
#    outside the window searched from the end of the file
mkdir signing && (
  cd signing &&
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout key.pem -out cert.pem \
    -days 2 -subj "/CN=Quillon test signer" >/dev/null 2>&1 &&
  for i in $(seq 1 150); do
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null \
      -days 2 -subj "/CN=Quillon filler certificate $i/O=$(printf "%060d" "$i")/OU=$(printf "%060d" 0)" 2>/dev/null
  done >chain.pem
) || fail "making the throw-away certificates"
"$pack" --stub "$stub64" -o unsigned.exe "$src/two" >/dev/null 2>&1 || fail "packing with the 64-bit stub"
osslsigncode sign -certs signing/cert.pem -ac signing/chain.pem -key signing/key.pem -n "Quillon test" \
  -in unsigned.exe -out signed.exe >signing/log 2>&1 || { fail "osslsigncode signs the program"; cat signing/log; }
check "osslsigncode verify accepts the signed program" bash -c "osslsigncode verify -CAfile signing/cert.pem -in signed.exe >/dev/null 2>&1"
check "the certificates are larger than the end record's search window" \
  [ $(( $(stat -c %s signed.exe) - $(stat -c %s unsigned.exe) )) -gt 65557 ]
rm -rf sx; run sx "" "$work/signed.exe" -q
expect "the signed program extracts" 0 ""
check "the signed program's files" diff -r "$src/two" sx/two
"$pack" --list unsigned.exe >unsigned-list.txt
run sx "" "$work/signed.exe" -l
expect "the signed program lists" 0 ""
check "the signed program lists what the unsigned one does" cmp -s "$work/out" unsigned-list.txt
run sx "" "$work/signed.exe" -t
expect "the signed program tests" 0 ""
check "the signed program tests good" grep -qx "no errors in 4 entries" "$work/out"

# -- a forged certificate table: data directory 4 aimed at the end of an
#    inner zip that the archive stores; the stub lists the outer archive
mkdir -p forged/inner && echo inside >forged/inner/hidden.txt && echo outside >forged/shown.txt
(cd forged/inner && zip -qX ../inner.zip hidden.txt) && rm -r forged/inner
(cd forged && zip -qX0 ../forged.zip inner.zip shown.txt)
"$pack" --stub "$stub64" -o forged.exe forged.zip >/dev/null 2>&1 || fail "packing the forged program"
"$pack" --list forged.exe >forged-list.txt
python3 "$here/aim_certificates.py" forged.exe inner.zip >/dev/null || fail "aiming the certificate table"
run fx "" "$work/forged.exe" -l
expect "the forged program lists" 0 ""
check "the forged program lists the outer archive" cmp -s "$work/out" forged-list.txt
rm -rf fx; run fx "" "$work/forged.exe" -q
check "the forged program extracts the outer archive" bash -c "[ \"\$(cd fx && find . -type f | sort | tr '\n' ' ')\" = './inner.zip ./shown.txt ' ]"

if [ "${QUILLON_UPDATE_SCREENSHOTS:-0}" = 1 ] && [ -f "$work/screenshots/overwrite.png" ]; then
  cp "$work/screenshots/overwrite.png" "$source_dir/docs/screenshots/overwrite.png"
fi

summary
