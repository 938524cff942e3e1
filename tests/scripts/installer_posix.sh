#!/usr/bin/env bash
# The POSIX stub as an installer: settings in the archive comment (written
# by hand with zip -z, as an author without the packer would, and by
# quillon-pack when it has the options) give a title, a message, a default
# destination and a program to run afterwards, whose exit code the stub
# returns; -x extracts only; arguments after "--" reach the program; the
# {temp} folder is private and removed with cleanup=yes; malformed settings
# are refused before anything is written.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-$here/../..}" && pwd)
bin=$(cd "${QUILLON_BINARY_DIR:-$source_dir/build/native}/bin" && pwd)
stub="$bin/quillon-sfx"
[ -x "$stub" ] || { echo "no stub at $stub"; exit 1; }
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
failures=0
passed=0
pass() { passed=$((passed + 1)); }
fail() { echo "FAILED: $1"; failures=$((failures + 1)); }
said() { sed 's/^/    stderr: /' "$work/err" | tail -6; }
check() {  # check NAME CONDITION...
  local name=$1; shift
  if "$@"; then pass; else fail "$name"; said; fi
}

# The temporary folders the stub makes go here, so that what it leaves is seen.
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
export MARKER="$work/marker"

# The payload: a setup script that records where it ran and its arguments,
# and exits with the code in its first line of code.txt.
mkdir -p payload/app/bin
cat >payload/app/setup.sh <<'EOF'
#!/bin/sh
{ pwd; for argument in "$@"; do echo "[$argument]"; done; } >"$MARKER"
exit "$(cat code.txt)"
EOF
chmod 755 payload/app/setup.sh
echo 7 >payload/app/code.txt
echo data >payload/app/bin/data.txt
printf '#!/bin/sh\nexit 0\n' >payload/app/not-executable.sh
chmod 644 payload/app/not-executable.sh

# installer NAME SETTINGS: the stub with the payload zipped behind it and
# SETTINGS (lines) as the archive comment.
installer() {
  rm -f "$1.zip"
  (cd payload/app && zip -qry "$work/$1.zip" .)
  printf '%s' "$2" | zip -qz "$1.zip"
  cat "$stub" "$1.zip" >"$1" && chmod +x "$1"
}
# run NAME INPUT ARGS...: runs installer NAME in a fresh folder "here"; exit
# code in $code, standard error in $work/err.
run() {
  local name=$1 input=$2; shift 2
  rm -rf here "$MARKER" && mkdir here
  (cd here && printf '%b' "$input" | "$work/$name" "$@" >"$work/out" 2>"$work/err")
  code=$?
}
temporaries() { ls -A "$TMPDIR"; }

header='quillon-sfx settings 1
'

# -- the whole installer: a private temporary folder, the program run in it
#    with the settings' and the command line's arguments, its exit code
#    returned, the folder removed afterwards
installer full "${header}title=Photo Viewer 2.1
message=Please read the licence.
message=It is short.
destination={temp}/viewer
run=setup.sh
argument=--mode
argument=two words
cleanup=yes
"
run full "y\n\n" -- --extra
check "the program's exit code is the stub's (got $code)" [ "$code" = 7 ]
check "the title is the first line" [ "$(head -1 err)" = "Photo Viewer 2.1" ]
check "the message is shown, line by line" grep -qxF "It is short." err
check "Continue? is asked" grep -qF "Continue? [y/N]" err
ran_in=$(head -1 "$MARKER" 2>/dev/null)
check "the program ran in the temporary folder ($ran_in)" bash -c "[[ '$ran_in' == '$TMPDIR'/quillon-*/viewer ]]"
check "its arguments: the settings', then those after --" \
  [ "$(tail -n +2 "$MARKER")" = "$(printf '[--mode]\n[two words]\n[--extra]')" ]
check "cleanup removed the temporary folder" [ -z "$(temporaries)" ]
check "nothing was written in the current folder" [ -z "$(ls -A here)" ]

# -- -l shows the settings after the entries
run full "" -l
check "-l shows the settings" bash -c "grep -qxF 'settings:' out && grep -qxF '  run=setup.sh' out && grep -qxF '  argument=two words' out && grep -qxF '  cleanup=yes' out"

# -- the temporary folder is private: mode 0700, made by the stub
installer keep "${header}destination={temp}/app
run=setup.sh
"
run keep "" -q
made=$(temporaries)
check "the program ran (exit $code)" [ "$code" = 7 ]
check "one temporary folder, kept without cleanup" [ "$(echo "$made" | wc -w)" = 1 ]
check "it is only the user's (0700)" [ "$(stat -c %a "$TMPDIR/$made")" = 700 ]
check "the program is executable after extraction" [ -x "$TMPDIR/$made/app/setup.sh" ]
rm -rf "${TMPDIR:?}"/*

# -- -x extracts without running; -d wins over the settings
run full "y\n" -x -d "$work/here/chosen"
check "-x: exit 0 (got $code)" [ "$code" = 0 ]
check "-x: the program did not run" [ ! -e "$MARKER" ]
check "-d chose the folder" [ -x here/chosen/setup.sh ]
check "-d: no temporary folder was made" [ -z "$(temporaries)" ]

# -- the message answered "no": exit 1, nothing extracted, no folder left
for answer in "n\n" "" "\n"; do
  rm -rf "${TMPDIR:?}"/*
  run full "$answer"
  check "a refused message ($answer) exits 1 (got $code)" [ "$code" = 1 ]
  check "a refused message extracts nothing" [ -z "$(temporaries)" ]
  check "a refused message runs nothing" [ ! -e "$MARKER" ]
done
# -q has accepted the message: nothing is asked
run full "" -q
check "-q shows no message and runs (exit $code)" [ "$code" = 7 ]
check "-q: no question" bash -c "! grep -q 'Continue?' err"

# -- destinations: below the current folder, below the home folder
installer relative "${header}destination=sub/app
"
run relative "" -q
check "a relative destination is below the current folder" [ -f here/sub/app/code.txt ]
installer homed "${header}destination={home}/apps/viewer
"
mkdir -p "$work/home"
HOME="$work/home" run homed "" -q
check "{home} is the home folder" [ -f "$work/home/apps/viewer/code.txt" ]
# asked without -q: the default is shown and Enter keeps it
run relative "\n"
check "the question offers the default (exit $code)" [ -f here/sub/app/code.txt ]
check "the question shows the default folder" grep -qF "$work/here/sub/app" err

# -- an ordinary comment is no settings block
installer plain "just a comment
title=not a setting
"
run plain "" -q
check "an ordinary comment changes nothing (exit $code)" bash -c "[ $code = 0 ] && [ -f here/setup.sh ] && ! grep -q 'not a setting' err"

# -- malformed settings: one clear error, exit 2, nothing written
refused() {  # refused NAME SETTINGS EXPECTED-TEXT
  installer bad "${header}$2"
  run bad "" -q
  if [ "$code" = 2 ] && grep -qF -- "$3" err && [ -z "$(ls -A here)" ] && [ -z "$(temporaries)" ]; then pass; else
    fail "$1 (exit $code; left: $(ls -A here) $(temporaries))"; said; fi
}
refused "an unknown key" "colour=red" 'format::zip::settings exception: unknown key "colour".'
refused "a run path that is no entry" "run=missing.sh" 'format::zip::archive exception: the program to run, "missing.sh", is not a file of the archive.'
refused "a run path that is a folder" "run=bin" 'the program to run, "bin", is not a file of the archive.'
refused "a run path that leaves" "run=../setup.sh" 'format::zip::settings exception: run "../setup.sh" is not a relative path inside its folder.'
refused "an absolute run path" "run=/bin/sh" 'run "/bin/sh" is not a relative path inside its folder.'
refused "a destination that leaves" "destination=../elsewhere" 'destination "../elsewhere" is not a relative path inside its folder.'
refused "an absolute destination" "destination=/tmp/x" 'destination "/tmp/x" is not a relative path inside its folder.'
refused "a temporary destination that climbs" 'destination={temp}/../x' 'is not a relative path inside its folder.'
refused "cleanup without {temp}" "$(printf 'run=setup.sh\ncleanup=yes')" 'cleanup needs a {temp} destination.'
refused "arguments without a program" "argument=-v" 'arguments are given but no program to run.'
refused "a line without =" "title" 'line "title" is not key=value.'

# -- the program to run must be written by this run: one kept from before
#    (answered "n") is not run
installer again "${header}destination=app
run=setup.sh
"
run again "" -q
check "the first run runs it (exit $code)" [ "$code" = 7 ]
rm -f "$MARKER"
(cd here && printf 'N\n' | "$work/again" -q >"$work/out" 2>"$work/err")
code=$?
check "a kept program is not run: exit 2 (got $code)" [ "$code" = 2 ]
check "a kept program is named" grep -qF 'the program to run, "' err
check "a kept program did not run" [ ! -e "$MARKER" ]

# -- a program that cannot be started: the error names the folder and says
#    that -d chooses another
installer noexec "${header}destination=app
run=not-executable.sh
"
run noexec "" -q
check "a program that cannot start: exit 2 (got $code)" [ "$code" = 2 ]
check "the error names the folder and -d" grep -qF "may not allow programs to run; choose another destination with -d" err

# -- the same made by quillon-pack from one folder: its contents are the
#    installer's, so that --run names the program as it lies in the folder
pack="$bin/quillon-pack"
if [ -x "$pack" ]; then
  printf 'Welcome.\nThis installs the viewer.\n' >message.txt
  "$pack" --stub "$stub" --title "Viewer Setup" --message-file message.txt --destination '{temp}/app' \
    --run "setup.sh --from-pack 'two words'" --cleanup -o app.run payload/app 2>"$work/err"
  check "quillon-pack makes the installer" [ -x app.run ]
  run app.run "y\n\n" -- after
  check "the packed installer returns the program's code (got $code)" [ "$code" = 7 ]
  check "the packed installer shows its title first" [ "$(head -1 err)" = "Viewer Setup" ]
  check "the packed installer shows its message" grep -qxF "This installs the viewer." err
  check "the packed installer's program got its arguments" \
    [ "$(tail -n +2 "$MARKER")" = "$(printf '[--from-pack]\n[two words]\n[after]')" ]
  check "the packed installer removed its folder" [ -z "$(temporaries)" ]
  "$pack" --list app.run >"$work/out" 2>&1
  check "--list shows the settings" bash -c "grep -qxF '  title=Viewer Setup' out && grep -qxF '  run=setup.sh' out && grep -qxF '  argument=two words' out"
  for wrong in "--run missing.sh" "--run ../setup.sh" "--cleanup --run setup.sh" "--destination /abs"; do
    rm -f refused.run
    # shellcheck disable=SC2086
    "$pack" --stub "$stub" $wrong -o refused.run payload/app 2>"$work/err"
    code=$?
    check "quillon-pack refuses $wrong (exit $code)" bash -c "[ $code = 2 ] && [ ! -e refused.run ] && [ -s '$work/err' ]"
  done
fi

echo "installer_posix: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
