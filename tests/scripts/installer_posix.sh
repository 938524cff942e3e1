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
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-$here/../..}" && pwd)
bin=$(cd "${QUILLON_BINARY_DIR:-$source_dir/build/native}/bin" && pwd)
stub="$bin/quillon-sfx"
[ -x "$stub" ] || { echo "no stub at $stub"; exit 1; }
cd "$work"
at_exit 'chattr -R -i "$work" 2>/dev/null'
said() { sed 's/^/    stderr: /' "$work/err" | tail -6; }
show_failure() { said; }

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
printf 'echo no line says how to run this\n' >payload/app/no-program.sh
chmod 755 payload/app/no-program.sh
# A program that leaves something its cleanup cannot remove: an immutable
# file (as root, where no permission stops a removal) or, for anyone else,
# a temporary folder in a folder it cannot write.
cat >payload/app/stick.sh <<'EOF'
#!/bin/sh
mkdir -p locked && echo x >locked/stuck.txt
if [ "$(id -u)" = 0 ]; then chattr +i locked/stuck.txt; else chmod 555 "$TMPDIR"; fi
exit 5
EOF
chmod 755 payload/app/stick.sh
# A program that waits to be stopped and says by which signal.
cat >payload/app/wait.sh <<'EOF'
#!/bin/sh
sleep 1000 & waiting=$!
trap 'kill $waiting; echo INT >"$MARKER"; exit 3' INT
trap 'kill $waiting; echo TERM >"$MARKER"; exit 4' TERM
echo "waiting for a signal"
wait $waiting
EOF
chmod 755 payload/app/wait.sh

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
check "a {temp} destination is not asked for" bash -c "! grep -q 'Extract to:' err"
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
# Without HOME, the password file's line of the user (read as a file: the
# stub is static, with no name-service modules); tried in a user and mount
# namespace of its own, where the user is 0 and /etc/passwd is ours.
if unshare -rm true 2>/dev/null; then
  printf 'nobody:x:65534:65534::/nonexistent:/bin/false\n0bad:x::0::/wrong:/bin/sh\nroot:x:0:0:Root:%s:/bin/sh\n' \
    "$work/home-from-passwd" >passwd
  mkdir -p home-from-passwd
  (cd here && env -u HOME unshare -rm sh -c 'mount --bind "$1" /etc/passwd && exec "$2" -q' - "$work/passwd" \
    "$work/homed" >"$work/out" 2>"$work/err")
  check "without HOME, {home} is the password file's" [ -f "$work/home-from-passwd/apps/viewer/code.txt" ]
fi
# asked without -q: the default is shown and Enter keeps it
run relative "\n"
check "the question offers the default (exit $code)" [ -f here/sub/app/code.txt ]
check "the question shows the default folder" grep -qF "$work/here/sub/app" err

# -- a relative -d: the program is the one extracted there, found by its
#    full path, and runs there; a rel/setup.sh below it left from before is
#    not taken for it
installer reldest "${header}run=setup.sh
"
rm -rf here "$MARKER" && mkdir -p here/rel/rel
printf '#!/bin/sh\necho decoy >"$MARKER"\nexit 9\n' >here/rel/rel/setup.sh && chmod 755 here/rel/rel/setup.sh
(cd here && "$work/reldest" -q -d rel >"$work/out" 2>"$work/err")
code=$?
check "-d rel: the extracted program ran (exit $code)" [ "$code" = 7 ]
check "-d rel: in the destination, by its full path" [ "$(head -1 "$MARKER" 2>/dev/null)" = "$work/here/rel" ]

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
    fail "$1 (exit $code; left: $(ls -A here) $(temporaries))"; fi
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
refused "two destinations" "$(printf 'destination={temp}/x\ndestination=a')" 'format::zip::settings exception: key "destination" is given twice.'
refused "two programs" "$(printf 'run=setup.sh\nrun=bin/data.txt')" 'key "run" is given twice.'
refused "two titles" "$(printf 'title=a\ntitle=b')" 'key "title" is given twice.'
refused "two cleanups" "$(printf 'destination={temp}\nrun=setup.sh\ncleanup=yes\ncleanup=no')" 'key "cleanup" is given twice.'
check "one message for a key given twice" [ "$(wc -l <"$work/err")" = 1 ]

# -- the program to run is the one this run wrote, or the one the user
#    chose to keep (No to All, -n); one kept is run in its place
installer again "${header}destination=app
run=setup.sh
"
run again "" -q
check "the first run runs it (exit $code)" [ "$code" = 7 ]
for keep in "N" "-n"; do
  rm -f "$MARKER"
  echo 3 >here/app/code.txt
  if [ "$keep" = N ]; then
    (cd here && printf 'N\n' | "$work/again" -q >"$work/out" 2>"$work/err")
  else
    (cd here && "$work/again" -q -n </dev/null >"$work/out" 2>"$work/err")
  fi
  code=$?
  check "a program kept with $keep runs: its exit code (got $code)" [ "$code" = 3 ]
  check "a program kept with $keep ran in the destination" [ "$(head -1 "$MARKER" 2>/dev/null)" = "$work/here/app" ]
done
# A link kept in its place is never followed.
rm -f "$MARKER" here/app/setup.sh && ln -s /bin/true here/app/setup.sh
(cd here && "$work/again" -q -n </dev/null >"$work/out" 2>"$work/err")
code=$?
check "a kept link is not run: exit 2 (got $code)" [ "$code" = 2 ]
check "a kept link is named as one" grep -qF '/app/setup.sh", is a symbolic link (the file kept in place of the archive'"'"'s).' err

# -- -log: what was done, the program's exit code and the run's, for runs
#    nobody watches; an error too
run full "" -q -log "$work/run.log"
check "-log: the run as usual (exit $code)" [ "$code" = 7 ]
check "-log: the lines of the run" bash -c "
  grep -qx 'started: $work/full -q -log $work/run.log' '$work/run.log' &&
  grep -qx 'destination: $TMPDIR/quillon-.*/viewer' '$work/run.log' &&
  grep -qx 'extracted: $TMPDIR/quillon-.*/viewer/setup.sh' '$work/run.log' &&
  grep -qx 'done: 7 files extracted, 0 kept' '$work/run.log' &&
  grep -qx 'running: $TMPDIR/quillon-.*/viewer/setup.sh --mode \"two words\"' '$work/run.log' &&
  grep -qx \"the program's exit code: 7\" '$work/run.log' && [ \"\$(tail -1 '$work/run.log')\" = 'exit code: 7' ]"
installer broken "${header}run=missing.sh
"
run broken "" -q -log "$work/error.log"
check "-log: an error is logged (exit $code)" bash -c "[ $code = 2 ] && grep -qx 'error: format::zip::archive exception: the program to run, \"missing.sh\", is not a file of the archive.' '$work/error.log' && [ \"\$(tail -1 '$work/error.log')\" = 'exit code: 2' ]"
run full "" -q -log "$work/no/such/folder/run.log"
check "-log into a folder that is not there: exit 2, nothing done (got $code)" bash -c "[ $code = 2 ] && [ ! -e '$MARKER' ] && grep -qF 'cannot create' '$work/err'"

# -- -y accepts the message without -q's other effects: no question, the
#    message not shown, the program run
run full "" -y
check "-y: the program runs (exit $code)" [ "$code" = 7 ]
check "-y: the message is neither shown nor asked" bash -c "! grep -qE 'Continue|It is short' err"

# -- a message longer than the terminal: through \$PAGER, or the built-in
#    pager, a screenful at a time; then the question
if command -v python3 >/dev/null; then
  long=""
  for i in $(seq 1 40); do long+="message=Licence line $i."$'\n'; done
  installer licence "${header}destination={temp}/lic
${long}run=setup.sh
"
  rm -rf here && mkdir here
  (cd here && env -u PAGER "$here/pty_answer.py" --rows 12 --each "press Enter for more" '\n' "Continue? [y/N]" 'y\n' \
    "$work/licence" >"$work/tty.log" 2>&1); code=$?
  check "the built-in pager: the run goes on after y (exit $code)" [ "$code" = 7 ]
  check "the built-in pager: forty lines in four screens of eleven" [ "$(grep -c 'press Enter for more' "$work/tty.log")" = 3 ]
  check "the built-in pager: every line shown" bash -c "[ \$(grep -c '^Licence line [0-9]*\.' '$work/tty.log') = 40 ]"
  printf '#!/bin/sh\ncat >"%s"\n' "$work/paged.txt" >"$work/pager.sh" && chmod +x "$work/pager.sh"
  (cd here && PAGER="$work/pager.sh" "$here/pty_answer.py" --rows 12 "Continue? [y/N]" 'y\n' \
    "$work/licence" >"$work/tty.log" 2>&1); code=$?
  check "\$PAGER: the run goes on after y (exit $code)" [ "$code" = 7 ]
  check "\$PAGER got the whole message" bash -c "[ \$(grep -c '^Licence line [0-9]*\.\$' '$work/paged.txt') = 40 ]"
  (cd here && "$here/pty_answer.py" --rows 60 "Continue? [y/N]" 'n\n' "$work/licence" >"$work/tty.log" 2>&1); code=$?
  check "a message that fits: no pager, n stops (exit $code)" bash -c "[ $code = 1 ] && ! grep -q 'press Enter' '$work/tty.log'"
fi
rm -rf "${TMPDIR:?}"/*

# -- a program that cannot be started says why: no execute permission, no
#    program the system knows, or (a file system mounted noexec) a folder
#    where nothing runs, named with the advice to choose another with -d
installer unexecutable "${header}destination=app
run=not-executable.sh
"
run unexecutable "" -q
check "a file without an execute bit: exit 2 (got $code)" [ "$code" = 2 ]
check "a file without an execute bit is said to be one" grep -qxF \
  "quillon::self::host exception: cannot run \"$work/here/app/not-executable.sh\": the file is not executable (it has no execute permission)." err
installer noprogram "${header}destination=app
run=no-program.sh
"
run noprogram "" -q
check "no program the system can run: exit 2 (got $code)" [ "$code" = 2 ]
check "no program the system can run is said to be none" grep -qF \
  "no-program.sh\": it is not a program this system can run (Exec format error)." err
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  mkdir -p "$work/noexec"
  installer mounted "${header}run=setup.sh
"
  rm -rf here && mkdir here
  (cd here && unshare -m sh -c 'mount -t tmpfs -o noexec tmpfs "$1" && exec "$2" -q -d "$1/app"' - \
    "$work/noexec" "$work/mounted" >"$work/out" 2>"$work/err")
  code=$?
  check "a noexec file system: exit 2 (got $code)" [ "$code" = 2 ]
  check "a noexec file system: the folder is named with -d" grep -qF \
    "Permission denied (the folder \"$work/noexec/app\" may not allow programs to run; choose another destination with -d)." err
else
  echo "SKIPPED: a noexec file system (needs root and unshare)"
fi

# -- a cleanup that cannot remove everything: the rest goes, the first
#    thing left is named, the program's exit code stays the run's
installer sticky "${header}destination={temp}/app
run=stick.sh
cleanup=yes
"
run sticky "" -q
left=$(ls -A "$TMPDIR")
check "a failed cleanup keeps the program's exit code (got $code)" [ "$code" = 5 ]
check "a failed cleanup names the first thing left" grep -qE \
  "^io::directory exception: cannot delete \"$TMPDIR/quillon-[^/]+/app/locked/stuck.txt\"; " err
check "a failed cleanup removes the rest" [ "$(cd "$TMPDIR/$left" 2>/dev/null && find . | sort | tr '\n' ' ')" = ". ./app ./app/locked ./app/locked/stuck.txt " ]
chattr -R -i "$TMPDIR" 2>/dev/null; chmod -R u+rwx "$TMPDIR"; rm -rf "${TMPDIR:?}"/*

# -- nothing is left behind: Ctrl+C (to the whole group, from the terminal)
#    or SIGTERM (to the stub alone, passed on) ends the program, and the
#    {temp} folder goes once it has ended; so it does when the program
#    cannot start; -x says where it extracted
installer waiter "${header}destination={temp}/app
run=wait.sh
cleanup=yes
"
rm -rf here "$MARKER" && mkdir here
(cd here && exec "$work/waiter" -q >"$work/out" 2>"$work/err") &
stub_pid=$!
for _ in $(seq 600); do grep -q "waiting for a signal" "$work/out" 2>/dev/null && break; sleep 0.1; done
kill -TERM "$stub_pid"
wait "$stub_pid"
code=$?
check "SIGTERM: the program got it and ended (exit $code)" bash -c "[ $code = 4 ] && [ \"\$(cat '$MARKER')\" = TERM ]"
check "SIGTERM: the temporary folder is removed" [ -z "$(temporaries)" ]
if command -v python3 >/dev/null; then
  rm -rf here "$MARKER" && mkdir here
  (cd here && "$here/pty_answer.py" "waiting for a signal" '\x03' "$work/waiter" -q >"$work/tty.log" 2>&1)
  code=$?
  check "Ctrl+C: the program got it and ended (exit $code)" bash -c "[ $code = 3 ] && [ \"\$(cat '$MARKER')\" = INT ]"
  check "Ctrl+C: the temporary folder is removed" [ -z "$(temporaries)" ]
fi
installer unstartable "${header}destination={temp}/app
run=not-executable.sh
cleanup=yes
"
run unstartable "" -q
check "a program that cannot start: exit 2 (got $code)" bash -c "[ $code = 2 ] && grep -qF 'the file is not executable' err"
check "a program that cannot start: the temporary folder is removed" [ -z "$(temporaries)" ]
run waiter "" -q -x
made=$(temporaries)
check "-x into {temp}: says where (exit $code)" bash -c "[ $code = 0 ] && [ \"\$(cat out)\" = 'extracted into $TMPDIR/$made/app' ]"
check "-x into {temp}: the files are there" [ -x "$TMPDIR/$made/app/wait.sh" ]
rm -rf "${TMPDIR:?}"/*

# -- text from the archive reaches the terminal escaped: a raw 0x9B (a CSI
#    to many terminals) and an ESC in the title and the message
installer escaped "${header}title=T"$'\x9b'"2J"$'\x1b'"]0;x
message=M"$'\x9b'"31m
"
run escaped "n\n"
check "the title is shown escaped" [ "$(head -1 err)" = 'T\x9B2J^[]0;x' ]
check "the message is shown escaped" grep -qxF 'M\x9B31m' err
check "no 0x9B or ESC byte reaches the terminal" bash -c "! LC_ALL=C grep -q \$'[\x9b\x1b]' '$work/err'"

# -- the same made by quillon-pack from one folder: its contents are the
#    installer's, so that --run names the program as it lies in the folder
pack="$bin/quillon-pack"
if [ -x "$pack" ]; then
  printf 'Welcome.\nThis installs the viewer.\n' >message.txt
  "$pack" --stub "$stub" --title "Viewer Setup" --message-file message.txt --destination '{temp}/app' \
    --buttons 'OK|Cancel' --run "setup.sh --from-pack 'two words'" --cleanup -o app.run payload/app 2>"$work/err"
  check "quillon-pack makes the installer" [ -x app.run ]
  run app.run "y\n\n" -- after
  check "the packed installer returns the program's code (got $code)" [ "$code" = 7 ]
  check "the packed installer shows its title first" [ "$(head -1 err)" = "Viewer Setup" ]
  check "the packed installer shows its message" grep -qxF "This installs the viewer." err
  check "the packed installer's program got its arguments" \
    [ "$(tail -n +2 "$MARKER")" = "$(printf '[--from-pack]\n[two words]\n[after]')" ]
  check "the packed installer removed its folder" [ -z "$(temporaries)" ]
  "$pack" --list app.run >"$work/out" 2>&1
  check "--list shows the settings" bash -c "grep -qxF '  title=Viewer Setup' out && grep -qxF '  run=setup.sh' out && grep -qxF '  argument=two words' out && grep -qxF '  buttons=OK|Cancel' out"
  for wrong in "--run missing.sh" "--run ../setup.sh" "--cleanup --run setup.sh" "--destination /abs" "--buttons OK|Cancel" \
    "--message hi --buttons OK"; do
    rm -f refused.run
    # shellcheck disable=SC2086
    "$pack" --stub "$stub" $wrong -o refused.run payload/app 2>"$work/err"
    code=$?
    check "quillon-pack refuses $wrong (exit $code)" bash -c "[ $code = 2 ] && [ ! -e refused.run ] && [ -s '$work/err' ]"
  done
fi

summary
