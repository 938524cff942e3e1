#!/usr/bin/env bash
# The Windows stub as an installer, under wine64 and Xvfb, in a Wine prefix
# of its own (made here, removed at the end): a small Windows program,
# built here with the mingw compiler, is packed with settings in the archive
# comment; the stub shows the maker's title in every caption and the message
# first in a dialog of its own (a 20 KB licence scrolls in it, on screen,
# with the buttons' words from the settings), extracts into a private
# temporary folder without asking where, runs the program there with the
# settings' and the command line's arguments, returns its exit code and
# removes the folder; -x extracts only; -y accepts the message; -log
# records the run; a program kept with -n runs; Cancel at the message
# stops before anything is written; malformed settings are refused, with -q
# on standard error.
#
# The program: QUILLON_WIN64_STUB (default build/win64/bin/quillon-sfx.exe).
# With QUILLON_UPDATE_SCREENSHOTS=1 the licence dialog with a maker's title
# is copied to docs/screenshots/installer.png.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-$here/../..}" && pwd)
binary_dir=${QUILLON_BINARY_DIR:-$source_dir/build/native}
stub64=${QUILLON_WIN64_STUB:-$source_dir/build/win64/bin/quillon-sfx.exe}
pack="$binary_dir/bin/quillon-pack"
wine=/usr/lib/wine/wine64
compiler=x86_64-w64-mingw32-g++-posix
title="Photo Viewer Setup"

missing=""
[ -f "$stub64" ] || missing+=" $stub64"
for tool in "$wine" /usr/lib/wine/wineserver Xvfb xdotool import compare zip "$compiler"; do
  command -v "$tool" >/dev/null || missing+=" $tool"
done
if [ -n "$missing" ]; then
  skip_all "the Windows stub as an installer under Wine; missing:$missing"
fi

# shellcheck source=../support/wine_gui.sh
. "$source_dir/tests/support/wine_gui.sh"
cd "$work"

unix_name() { "$wine" winepath -u "$1" 2>/dev/null; }
windows_name() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# -- the program an installer runs: it writes where it ran and its
#    arguments to the file %MARKER% names, and exits with the number in
#    code.txt of its folder
mkdir -p payload
cat >setup.cpp <<'EOF'
#include <windows.h>
#include <cstdio>
// --hold: a copy of the program, started in hold\, keeps hold\held.txt open
// without sharing it for eight seconds after this one has ended.
static void hold() {
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    CreateDirectoryW(L"hold", nullptr);
    CopyFileW(own, L"hold\\holder.exe", FALSE);
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    wchar_t line[] = L"holder.exe --holder";
    if (!CreateProcessW(L"hold\\holder.exe", line, nullptr, nullptr, FALSE, 0, nullptr, L"hold", &startup, &process))
        return;
    for (int i = 0; i < 100; ++i) {
        HANDLE probe = CreateFileW(L"hold\\held.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                   FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) break;
        if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
        Sleep(100);
    }
}
int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && wcscmp(argv[1], L"--holder") == 0) {
        HANDLE held = CreateFileW(L"held.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        Sleep(8000);
        CloseHandle(held);
        return 0;
    }
    if (argc > 1 && wcscmp(argv[1], L"--hold") == 0) hold();
    const wchar_t* marker = _wgetenv(L"MARKER");
    if (!marker) return 99;
    FILE* out = _wfopen(marker, L"w, ccs=UTF-8");
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    fwprintf(out, L"%ls\n", folder);
    for (int i = 1; i < argc; ++i) fwprintf(out, L"[%ls]\n", argv[i]);
    fclose(out);
    int code = 98;
    FILE* in = _wfopen(L"code.txt", L"r");
    if (in) fscanf(in, "%d", &code), fclose(in);
    return code;
}
EOF
if ! "$compiler" -municode -static -O1 -o payload/setup.exe setup.cpp 2>"$work/compile.log"; then
  fail "the test program builds"; cat "$work/compile.log"
fi
echo 7 >payload/code.txt
echo data >payload/readme.txt
# A batch file that hands its arguments on as cmd.exe gives them to it.
printf '@"%%~dp0setup.exe" %%*\r\n@exit /b %%errorlevel%%\r\n' >payload/setup.bat
# A program that only says it was run, for a folder where it must not be.
cat >decoy.cpp <<'EOF'
#include <windows.h>
#include <cstdio>
int wmain() {
    FILE* out = _wfopen(_wgetenv(L"MARKER"), L"w");
    if (out) fputs("decoy\n", out), fclose(out);
    return 9;
}
EOF
"$compiler" -municode -static -O1 -o decoy.exe decoy.cpp 2>>"$work/compile.log" || fail "the decoy builds"

header='quillon-sfx settings 1
'
installer() {  # installer NAME SETTINGS
  rm -f "$1.zip"
  (cd payload && zip -qr "$work/$1.zip" .)
  printf '%s' "$2" | zip -qz "$1.zip"
  cat "$stub64" "$1.zip" >"$1.exe"
}
export MARKER
MARKER=$(windows_name "$work")'\marker.txt'
marker="$work/marker.txt"
temporaries() { ls -A "$(unix_name 'C:\users')"/*/Temp 2>/dev/null | grep '^quillon-' || true; }

run() {  # run NAME ARGS...: in the foreground in a fresh folder "here"
  local name=$1; shift
  rm -rf here "$marker" && mkdir here
  (cd here && timeout 120 "$wine" "$work/$name.exe" "$@" >"$work/out" 2>"$work/err" </dev/null)
  code=$?
}
start() {  # start NAME ARGS...: the same in the background, window and field texts traced
  local name=$1; shift
  rm -rf here "$marker" && mkdir here
  (cd here && WINEDEBUG=+win,+edit exec timeout 120 "$wine" "$work/$name.exe" "$@" >"$work/out" 2>"$work/trace" </dev/null) &
  program=$!
}
finish() { wait "$program"; code=$?; }
window() {  # window TITLE [EXCEPT...]: the id of a visible window with that caption
  local wanted=$1 id; shift
  for _ in $(seq 300); do
    for id in $(xdotool search --onlyvisible --name "^$wanted\$" 2>/dev/null); do
      [[ " $* " == *" $id "* ]] || { sleep 0.5; echo "$id"; return 0; }
    done
    sleep 0.1
  done
  return 1
}
gone() { for _ in $(seq 100); do xdotool getwindowname "$1" >/dev/null 2>&1 || return 0; sleep 0.1; done; }
geometry() { eval "$(xdotool getwindowgeometry --shell "$1" | tr 'A-Z' 'a-z' | grep -E '^(x|y|width|height)=')"; }
point_at() { geometry "$1"; xdotool mousemove $((x + width / 2)) $((y + 8)); sleep 0.2; }

installer full "${header}title=$title
message=Please read the licence first.
destination={temp}/viewer
run=setup.exe
argument=--mode
argument=two words
cleanup=yes
"

# -- quiet: no message, the program runs in the temporary folder with its
#    arguments, its exit code is returned, the folder is removed; -log
#    records the program run and its exit code
run full -q -log "$(windows_name "$work")\run.log" -- --extra
check "the program's exit code is the stub's (got $code)" [ "$code" = 7 ]
ran_in=$(head -1 "$marker" 2>/dev/null | tr -d '\r')
check "the program ran in a temporary folder ($ran_in)" bash -c "[[ '$ran_in' == *'\\Temp\\quillon-'*'\\viewer' ]]"
check "its arguments: the settings', then those after --" \
  [ "$(tail -n +2 "$marker" | tr -d '\r')" = "$(printf '[--mode]\n[two words]\n[--extra]')" ]
check "cleanup removed the temporary folder" [ -z "$(temporaries)" ]
check "nothing was written in the current folder" [ -z "$(ls -A here)" ]
check "-log: the program run and its exit code" bash -c "tr -d '\r' <run.log | grep -q '^running: .*viewer.setup.exe --mode \"two words\" --extra\$' &&
  tr -d '\r' <run.log | grep -qx \"the program's exit code: 7\""
# -y accepts the message without -q's other effects: the progress window,
# no question (a {temp} destination is not asked for)
run full -y -- --extra
check "-y: the program runs, nothing asked (exit $code)" [ "$code" = 7 ]

# -- -x extracts without running
run full -q -x
check "-x: exit 0 (got $code)" [ "$code" = 0 ]
check "-x: the program did not run" [ ! -e "$marker" ]
check "-x: the files are in the temporary folder" [ -n "$(temporaries)" ]

# -- with the windows: the message first, in a dialog with the maker's
#    title; a {temp} destination is not asked for: the program runs next
start full
if id=$(window "$title"); then
  pass
  point_at "$id"; xdotool key Return  # I Agree
else
  fail "no message dialog with the maker's title"
fi
finish
check "the run with windows ends with the program's code, no destination asked (got $code)" [ "$code" = 7 ]
check "the message was shown" grep -q 'Please read the licence first.' "$work/trace"
gui_ran_in=$(head -1 "$marker" 2>/dev/null | tr -d '\r')
check "the program ran in the temporary folder ($gui_ran_in)" bash -c "[[ '$gui_ran_in' == *'\\Temp\\quillon-'*'\\viewer' ]]"

# -- a licence of 20 KB: the dialog fits a 1024x768 screen with its
#    buttons, the text scrolls (Page Down changes what the field shows),
#    the buttons' words come from the settings, Enter accepts
licence=$(head -c 20480 /usr/share/common-licenses/GPL-3 | sed 's/^/message=/')
installer licence "${header}title=$title
$licence
buttons=Accept|Decline
destination={temp}/lic
run=setup.exe
cleanup=yes
"
start licence
if id=$(window "$title"); then
  geometry "$id"
  check "the licence dialog fits the screen (${width}x${height}+${x}+${y})" \
    [ "$x" -ge 0 -a "$y" -ge 0 -a $((x + width)) -le 1024 -a $((y + height)) -le 768 ]
  mkdir -p "$work/screenshots"
  import -window root -crop "${width}x${height}+${x}+${y}" +repage "$work/screenshots/installer.png"
  point_at "$id"; xdotool key Next Next; sleep 0.5
  import -window root -crop "${width}x${height}+${x}+${y}" +repage "$work/scrolled.png"
  differ=$(compare -metric AE "$work/screenshots/installer.png" "$work/scrolled.png" null: 2>&1)
  check "Page Down scrolls the licence ($differ pixels changed)" [ "${differ%% *}" -gt 1000 ]
  xdotool key Return
else
  fail "no licence dialog"
fi
finish
check "the licence accepted with Enter: the program runs (got $code)" [ "$code" = 7 ]
check "the buttons' words are the settings'" bash -c "grep -q 'set_window_text L\"Accept\"' '$work/trace' && grep -q 'set_window_text L\"Decline\"' '$work/trace'"

# -- Cancel at the message: exit 1, nothing written, no folder left
rm -rf "$(unix_name 'C:\users')"/*/Temp/quillon-*
start full
if id=$(window "$title"); then
  point_at "$id"; xdotool key Escape
else
  fail "no message box to cancel"
fi
finish
check "Cancel at the message exits 1 (got $code)" [ "$code" = 1 ]
check "Cancel at the message writes nothing" [ -z "$(temporaries)" ]
check "Cancel at the message runs nothing" [ ! -e "$marker" ]

# -- malformed settings: refused before anything is written (with -q on
#    standard error; no window waits for a click)
installer bad "${header}run=missing.exe
"
run bad -q
check "a run path that is no entry: exit 2 (got $code)" [ "$code" = 2 ]
check "a run path that is no entry is named" grep -q 'missing.exe' "$work/err"
check "a malformed installer writes nothing" [ -z "$(ls -A here)" ]

# boxed NAME TEXT ARGS...: a quiet run that fails; the line of its standard
# error that says TEXT in $said.
boxed() {
  local name=$1 text=$2; shift 2
  run "$name" "$@"
  said=$(tr -d '\r' <"$work/err" | grep -F "$text" | tail -1)
}
injected() { find "$work" -iname 'INJ*'; }
matches() { [[ $1 == $2 ]]; }  # matches TEXT PATTERN

# -- a relative -d: the program extracted there runs, not a setup.exe
#    below it from before
installer reldest "${header}run=setup.exe
"
rm -rf here "$marker" && mkdir -p here/rel/rel && cp decoy.exe here/rel/rel/setup.exe
(cd here && timeout 120 "$wine" "$work/reldest.exe" -q -d rel >"$work/out" 2>"$work/err" </dev/null)
code=$?
check "-d rel: the extracted program ran (exit $code)" [ "$code" = 7 ]
ran_in=$(head -1 "$marker" 2>/dev/null | tr -d '\r' | sed 's/^\xEF\xBB\xBF//')
check "-d rel: in the destination ($ran_in)" [ "$ran_in" = "$(windows_name "$work/here/rel")" ]

# -- a batch file: cmd.exe's special characters in its arguments, from the
#    settings and after --, arrive as they are; nothing they spell runs
installer batch "${header}destination=b
run=setup.bat
argument=y&md INJ2
argument=<p>|q^
"
run batch -q -- 'x&md;INJ1' 'a|md INJ3' 'c>INJ4' 'e^f' '(g) !h!' 'two words'
check "a batch file returns its program's code (got $code)" [ "$code" = 7 ]
check "a batch file gets & | < > ^ ( ) ! as they are" [ "$(tail -n +2 "$marker" | tr -d '\r')" = \
  "$(printf '%s\n' '[y&md INJ2]' '[<p>|q^]' '[x&md;INJ1]' '[a|md INJ3]' '[c>INJ4]' '[e^f]' '[(g) !h!]' '[two words]')" ]
check "nothing the arguments spell was run" [ -z "$(injected)" ]
# What cmd.exe cannot pass unchanged is refused, before anything is written.
for wrong in '50%' '%PATH%' 'a"b&md INJ5'; do
  boxed batch "holds a" -q -- "$wrong"
  check "a batch argument $wrong: exit 2 (got $code)" [ "$code" = 2 ]
  check "a batch argument $wrong is named as refused ($said)" matches "$said" "*the argument \"$wrong\" holds a *, which cmd.exe cannot pass to a batch file unchanged*"
  check "a batch argument $wrong: nothing written or run" [ ! -e "$marker" -a -z "$(ls -A here)$(injected)" ]
done

# -- a file that is no program says so
installer notes "${header}destination=app
run=readme.txt
"
boxed notes "cannot run" -q
check "no program: exit 2 (got $code)" [ "$code" = 2 ]
check "no program is said to be none ($said)" matches "$said" '*readme.txt": it is not a program Windows can run (*' 

# -- a cleanup that cannot remove everything: a file another program holds
#    open stays and is named, the rest goes, the exit code is the program's
installer sticky "${header}destination={temp}/app
run=setup.exe
argument=--hold
cleanup=yes
"
rm -rf "$(unix_name 'C:\users')"/*/Temp/quillon-*
boxed sticky "cannot delete" -q
check "a failed cleanup keeps the program's exit code (got $code)" [ "$code" = 7 ]
check "a failed cleanup names the first thing left ($said)" matches "$said" 'io::directory exception: cannot delete "*\\Temp\\quillon-*\\app\\hold\\*' 
left=$(cd "$(unix_name 'C:\users')"/*/Temp/quillon-*/app 2>/dev/null && find . -type f | sort | tr '\n' ' ')
check "a failed cleanup removes the rest (left: $left)" matches "$left" './hold/*' 
sleep 8  # the holder lets go
rm -rf "$(unix_name 'C:\users')"/*/Temp/quillon-*

# -- the program kept in place of the archive's (-n, as No to All) runs
installer kept "${header}destination=app
run=setup.exe
"
run kept -q
check "the first run runs the program (exit $code)" [ "$code" = 7 ]
echo 3 >here/app/code.txt
(cd here && timeout 120 "$wine" "$work/kept.exe" -q -n >"$work/out" 2>"$work/err" </dev/null)
code=$?
check "a program kept with -n runs (its exit code: $code)" [ "$code" = 3 ]

# -- an installer made by quillon-pack for Windows
if [ -x "$pack" ]; then
  printf 'Made by the packer.\n' >message.txt
  "$pack" --stub "$stub64" --title "$title" --message-file message.txt --destination '{temp}/app' \
    --run 'setup.exe --packed' --cleanup -o packed.exe payload 2>"$work/err"
  run packed -q -- more
  check "the packed Windows installer returns the program's code (got $code)" [ "$code" = 7 ]
  check "its program got its arguments" [ "$(tail -n +2 "$marker" | tr -d '\r')" = "$(printf '[--packed]\n[more]')" ]
  check "its folder was removed" [ -z "$(temporaries)" ]
fi

if [ "${QUILLON_UPDATE_SCREENSHOTS:-0}" = 1 ] && [ -f "$work/screenshots/installer.png" ]; then
  cp "$work/screenshots/installer.png" "$source_dir/docs/screenshots/installer.png"
fi

summary
