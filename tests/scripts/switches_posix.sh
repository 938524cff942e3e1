#!/usr/bin/env bash
# The POSIX stub's switches and overwrite answers from the outside: every
# answer to the overwrite question through a pipe and on a terminal
# (pty_answer.py), a second extraction over the first with one answer or
# one switch, every switch and every switch error with its exact text and
# exit code, -l and -t against quillon-pack's --list and --test on the same
# program, -t on a damaged program, -p with a right and a wrong passphrase,
# and a signed Windows program read by quillon-pack (certificates larger
# than the window in which an end record is looked for).
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-$here/../..}" && pwd)
bin=$(cd "${QUILLON_BINARY_DIR:-$source_dir/build/native}/bin" && pwd)
stub="$bin/quillon-sfx"
pack="$bin/quillon-pack"
stub32=${QUILLON_WIN32_STUB:-$source_dir/build/win32/bin/quillon-sfx.exe}
[ -x "$stub" ] || { echo "no stub at $stub"; exit 1; }
[ -x "$pack" ] || { echo "no packer at $pack"; exit 1; }
cd "$work"

said() { [ -f "$work/err" ] && sed 's/^/    stderr: /' "$work/err" | tail -8; }  # what the last run said

# sfx NAME ARCHIVE: the stub with ARCHIVE appended, executable.
sfx() { cat "$stub" "$2" >"$1" && chmod +x "$1"; }

# inside DIR INPUT PROGRAM ARGS...: runs PROGRAM in DIR (made when missing, kept
# otherwise) with INPUT on standard input; exit code in $code, standard
# output in $work/out, standard error in $work/err.
inside() {
  local dir=$1 input=$2; shift 2
  mkdir -p "$dir"
  (cd "$dir" && printf '%b' "$input" | "$@" >"$work/out" 2>"$work/err")
  code=$?
}
# run DIR INPUT PROGRAM ARGS...: the same in a fresh, empty folder DIR.
run() { rm -rf "$1"; inside "$@"; }

expect() {  # expect NAME CODE [EXACT-STDERR]: checks the last run
  local name=$1 wanted=$2
  if [ "$code" != "$wanted" ]; then fail "$name (exit $code, wanted $wanted)"; said; return; fi
  if [ $# -ge 3 ] && [ "$(cat "$work/err")" != "$3" ]; then
    fail "$name (standard error differs)"; said; echo "    wanted: $3" | head -5; return; fi
  pass
}
empty_folder() { [ -d "$1" ] && [ -z "$(ls -A "$1")" ]; }

question() {  # question PATH [link]: the overwrite prompt for PATH
  local kind=""
  [ "${2:-}" = link ] && kind=" as a symbolic link"
  printf '%s already exists%s. Overwrite it? [y]es, [n]o, [A]ll, [N]one: ' "$1" "$kind"
}

# -- the programs: two files in a folder, a tree of 300 files, an encrypted
#    one, a damaged one
src="$work/src"
mkdir -p "$src/two/sub"
echo "new a" >"$src/two/sub/a.txt"
echo "new b" >"$src/two/b.txt"
mkdir -p "$src/tree"
for i in $(seq 1 300); do mkdir -p "$src/tree/d$((i % 7))" && echo "file $i" >"$src/tree/d$((i % 7))/f$i.txt"; done
find "$src" -exec touch -d '2021-06-15 10:20:30' {} +
(cd "$src" && zip -qrX ../two.zip two && zip -qrX ../tree.zip tree && zip -qrX -P 'open sesame' ../secret.zip two)
sfx two.sfx two.zip
sfx tree.sfx tree.zip
sfx secret.sfx secret.zip
old_time=$(date -d '2001-02-03 04:05:06' +%s)

# old DIR: "two" extracted before, then changed: old contents, an old time.
old() {
  rm -rf "$1" && mkdir -p "$1/two/sub"
  echo "old a" >"$1/two/sub/a.txt" && echo "old b" >"$1/two/b.txt"
  touch -d "@$old_time" "$1/two/sub/a.txt" "$1/two/b.txt"
}
kept() { [ "$(cat "$1")" = "old ${1: -5:1}" ] && [ "$(stat -c %Y "$1")" = "$old_time" ]; }
replaced() { [ "$(cat "$1")" = "new ${1: -5:1}" ]; }
# Entry order in two.zip (Info-ZIP writes a folder's files before its
# subfolders): two/b.txt, then two/sub/a.txt.
qb=$(question "$work/ow/two/b.txt")
qa=$(question "$work/ow/two/sub/a.txt")

# -- the four answers, piped
old ow; inside ow 'y\nn\n' "$work/two.sfx" -q
expect "y replaces this file, n keeps the next" 0 "$qb"$'\n'"$qa"
check "y replaced b.txt" replaced ow/two/b.txt
check "n kept a.txt, its content and its time" kept ow/two/sub/a.txt

old ow; inside ow 'n\ny\n' "$work/two.sfx" -q
expect "n keeps this file and goes on with the next" 0 "$qb"$'\n'"$qa"
check "n kept b.txt, its content and its time" kept ow/two/b.txt
check "y after n replaced a.txt" replaced ow/two/sub/a.txt

old ow; inside ow 'A\n' "$work/two.sfx" -q
expect "A replaces every file after one question" 0 "$qb"
check "A replaced b.txt" replaced ow/two/b.txt
check "A replaced a.txt without asking" replaced ow/two/sub/a.txt

old ow; inside ow 'N\n' "$work/two.sfx" -q
expect "N keeps every file after one question" 0 "$qb"
check "N kept b.txt" kept ow/two/b.txt
check "N kept a.txt without asking" kept ow/two/sub/a.txt

for words in 'yes\nno\n' 'YES\nNo\n'; do
  old ow; inside ow "$words" "$work/two.sfx" -q
  expect "the whole words \"$words\"" 0
  check "\"$words\": yes replaced, no kept" bash -c "[ \"\$(cat ow/two/b.txt)\" = 'new b' ] && [ \"\$(cat ow/two/sub/a.txt)\" = 'old a' ]"
done
for words in 'all\n' 'All\n' 'none\n' 'NONE\n'; do
  old ow; inside ow "$words" "$work/two.sfx" -q
  expect "the whole word \"$words\" settles every file" 0 "$qb"
done

# Cancel: an empty line, the end of input, anything else (Y included: the
# capital letters are the "every file" answers, and there is no "Yes to all"
# letter to mistake). Nothing is replaced; exit 1.
for answer in '\n' '' 'x\n' 'Y\n' 'yy\n' ' y\n' 'q\n'; do
  old ow; inside ow "$answer" "$work/two.sfx" -q
  expect "\"$answer\" is Cancel" 1 "$qb"
  check "\"$answer\" kept every file" bash -c "[ \"\$(cat ow/two/b.txt)\" = 'old b' ] && [ \"\$(cat ow/two/sub/a.txt)\" = 'old a' ]"
done
old ow; inside ow 'n\n' "$work/two.sfx" -q
expect "the end of input at the second question is Cancel" 1 "$qb"$'\n'"$qa"

# Side files count as present; a symbolic link is named as one, dangling or
# not (answered No only: what replacing a link does is the core's matter).
old ow; rm ow/two/b.txt; echo x >ow/two/b.txt.rsrc
inside ow 'N\n' "$work/two.sfx" -q
expect "a side file alone is asked about" 0 "$qb"
old ow; rm ow/two/b.txt; ln -s "$work/nowhere" ow/two/b.txt
inside ow 'n\nn\n' "$work/two.sfx" -q
expect "a dangling symbolic link is named as a link" 0 "$(question "$work/ow/two/b.txt" link)"$'\n'"$qa"
check "No keeps the link" bash -c "[ -L ow/two/b.txt ] && [ ! -e '$work/nowhere' ]"
old ow; rm ow/two/b.txt; ln -s sub/a.txt ow/two/b.txt
inside ow 'N\n' "$work/two.sfx" -q
expect "a symbolic link to a file is named as a link" 0 "$(question "$work/ow/two/b.txt" link)"
check "None keeps the link and its target" bash -c "[ -L ow/two/b.txt ] && kept_a=\$(cat ow/two/sub/a.txt) && [ \"\$kept_a\" = 'old a' ]"

# A name that holds a terminal escape sequence is asked about escaped.
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("evil.zip", "w") as archive:
    archive.writestr("evil\x1b[2J\x1b]0;pwned\x07.txt", b"new")
PY
sfx evil.sfx evil.zip
run evil "" "$work/evil.sfx" -q
rm -rf evil2 && cp -r evil evil2
inside evil2 'n\n' "$work/evil.sfx" -q
expect "an escape sequence in a name is shown escaped" 0 "$(question "$work/evil2/evil^[[2J^[]0;pwned^G.txt")"
check "no escape character reaches the terminal" bash -c "! grep -q \$'\\x1b' '$work/err'"

# A name whose bytes are not UTF-8 though the entry says they are (a raw
# 0x9B is a CSI to many terminals) is read as code page 437, as a name
# without the flag is: 0x9B is U+00A2 there. Listed and asked about without
# the byte itself.
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("raw.zip", "w") as archive:
    for name, flag in (("utf8@[2J.txt", 0x800), ("cp437@.txt", 0)):
        info = zipfile.ZipInfo(name)
        info.flag_bits |= flag
        archive.writestr(info, b"raw")
data = open("raw.zip", "rb").read().replace(b"@", b"\x9b")
open("raw.zip", "wb").write(data)
PY
sfx raw.sfx raw.zip
run raw "" "$work/raw.sfx" -l
cent=$(printf '\u00a2')
check "-l shows the names as code page 437" bash -c "grep -qF ' utf8$cent[2J.txt' '$work/out' && grep -qF ' cp437$cent.txt' '$work/out'"
run raw "" "$work/raw.sfx" -q
inside raw 'n\nn\n' "$work/raw.sfx" -q
check "the question shows the name as code page 437" grep -qF "utf8$cent[2J.txt already exists" "$work/err"
check "no 0x9B byte is written to the terminal" bash -c "! LC_ALL=C grep -q \$'\\x9b' '$work/out' '$work/err'"

# -- on a terminal: each answer typed, one file
mkdir -p "$src/one" && echo "new c" >"$src/one/c.txt"
(cd "$src" && zip -qrX ../onefile.zip one)
sfx onefile.sfx onefile.zip
for case in "y:0:new c" "n:0:old c" "A:0:new c" "N:0:old c" ":1:old c" "Y:1:old c" "\\x04:1:old c"; do
  IFS=: read -r typed wanted content <<<"$case"
  rm -rf tty && mkdir -p tty/one && echo "old c" >tty/one/c.txt
  answer="$typed\\n"
  [ "$typed" = '\x04' ] && answer='\x04'
  (cd tty && "$here/pty_answer.py" "[N]one: " "$answer" "$work/onefile.sfx" -q >"$work/tty.log" 2>&1); code=$?
  if [ "$code" = "$wanted" ] && [ "$(cat tty/one/c.txt)" = "$content" ] &&
     grep -qF "$work/tty/one/c.txt already exists. Overwrite it? [y]es, [n]o, [A]ll, [N]one: " "$work/tty.log"
  then pass; else fail "typed \"$typed\" on a terminal (exit $code, wanted $wanted; file: $(cat tty/one/c.txt))"
    tr -d '\r' <"$work/tty.log" | cat -v | head -5; fi
done
# All on a terminal, over two files: one question.
old tty2
(cd tty2 && "$here/pty_answer.py" "[N]one: " 'A\n' "$work/two.sfx" -q >"$work/tty.log" 2>&1); code=$?
if [ "$code" = 0 ] && replaced tty2/two/b.txt && replaced tty2/two/sub/a.txt && [ "$(grep -o 'Overwrite it?' "$work/tty.log" | wc -l)" = 1 ]
then pass; else fail "A on a terminal answers for every file (exit $code)"; cat -v "$work/tty.log" | head -5; fi

# -- a second extraction over the first: one answer, or one switch
run again "" "$work/tree.sfx" -q
expect "the first extraction of 300 files" 0 ""
find again -type f -exec sh -c 'echo changed >"$1"' _ {} \;
inside again 'A\n' "$work/tree.sfx" -q
expect "over the first: one All" 0 "$(question "$(cd again && find "$PWD" -type f | head -0; echo "$work/again/$(unzip -Z1 "$work/tree.zip" | grep -v '/$' | head -1)")")"
check "All replaced all 300 files" bash -c "diff -r '$src/tree' again/tree >/dev/null"
find again -type f -exec sh -c 'echo changed >"$1"' _ {} \;
inside again 'N\n' "$work/tree.sfx" -q
expect "over the first: one None" 0
check "None asked once" bash -c "[ \$(grep -o 'Overwrite it?' '$work/err' | wc -l) = 1 ]"
check "None kept all 300 files" bash -c "[ \$(grep -rl '^changed$' again | wc -l) = 300 ]"
inside again '' "$work/tree.sfx" -q -o
expect "over the first: -o asks nothing" 0 ""
check "-o replaced all 300 files" bash -c "diff -r '$src/tree' again/tree >/dev/null"
find again -type f -exec sh -c 'echo changed >"$1"; touch -d "@'"$old_time"'" "$1"' _ {} \;
inside again '' "$work/tree.sfx" -q -n
expect "over the first: -n asks nothing" 0 ""
check "-n kept all 300 files and their times" bash -c "[ \$(grep -rl '^changed$' again | wc -l) = 300 ] &&
  [ \"\$(find again -type f -exec stat -c %Y {} + | sort -u)\" = '$old_time' ]"
check "-n still writes the files that are missing" bash -c "rm again/tree/d1/f1.txt && cd again && '$work/tree.sfx' -q -n </dev/null 2>/dev/null && [ \"\$(cat tree/d1/f1.txt)\" = 'file 1' ]"

# -- -d: no destination question, the folder made with its parents
run dee "" "$work/two.sfx" -d "new/with blank/dest"
expect "-d DIR asks nothing" 0 ""
check "-d made the folders" diff -r "$src/two" "dee/new/with blank/dest/two"
run dee "" "$work/two.sfx" -d "$work/dee-absolute"
expect "-d with an absolute folder" 0 ""
check "-d absolute" diff -r "$src/two" "$work/dee-absolute/two"
run dee "" "$work/two.sfx" -d -x
expect "-d takes the next word as it is, even \"-x\"" 0 ""
check "-d -x made the folder -x" diff -r "$src/two" "dee/-x/two"
old ow; inside . '' "$work/two.sfx" -q -o -d ow
expect "-q -o -d combined" 0 ""
check "-q -o -d replaced both" bash -c "[ \"\$(cat ow/two/b.txt)\" = 'new b' ] && [ \"\$(cat ow/two/sub/a.txt)\" = 'new a' ]"
old ow; inside . '' "$work/two.sfx" -n -d ow
expect "-n -d combined" 0 ""
check "-n -d kept both" bash -c "[ \"\$(cat ow/two/b.txt)\" = 'old b' ] && [ \"\$(cat ow/two/sub/a.txt)\" = 'old a' ]"
old ow; inside . 'N\n' "$work/two.sfx" -d ow
expect "-d alone still asks before replacing" 0 "$(question "$work/ow/two/b.txt")"
: >"$work/blocker"
run blocked "" "$work/two.sfx" -q -d "$work/blocker/inside"
expect "-d below a file" 2 "quillon::self::entry exception: cannot make the folder \"$work/blocker/inside\": \"$work/blocker\" is a file, not a folder."
check "-d below a file writes nothing" empty_folder blocked
run blocked "" "$work/two.sfx" -q -d "$work/blocker"
expect "-d naming a file" 2 "quillon::self::entry exception: cannot extract into \"$work/blocker\": it is a file, not a folder."
check "-d naming a file leaves it as it was" bash -c "[ -f '$work/blocker' ] && [ ! -s '$work/blocker' ] && [ -z \"\$(ls -A blocked)\" ]"

# -- -l and -t: the same answers as quillon-pack's --list and --test
"$pack" --list "$work/two.sfx" >pack-list.txt
run list "" "$work/two.sfx" -l
expect "-l" 0 ""
check "-l prints what --list prints" cmp -s "$work/out" pack-list.txt
check "-l names every entry" bash -c "grep -q '  two/sub/a.txt\$' '$work/out' && grep -q '  two/b.txt\$' '$work/out' && tail -1 '$work/out' | grep -q '  4 entries\$'"
check "-l writes nothing" empty_folder list
"$work/two.sfx" -l >/dev/full 2>"$work/err"
code=$?
check "-l on a full disk fails (exit $code)" [ "$code" = 2 ]
check "-l on a full disk says so" grep -qxF \
  'self::report exception: cannot write "standard output"; 28 No space left on device.' "$work/err"
"$pack" --test "$work/two.sfx" >pack-test.txt
run testing "" "$work/two.sfx" -t
expect "-t on a good program" 0 ""
check "-t prints what --test prints" cmp -s "$work/out" pack-test.txt
check "-t reports every file" bash -c "[ \"\$(cat '$work/out')\" = \$'ok: two/b.txt\\nok: two/sub/a.txt\\nno errors in 4 entries' ]"
check "-t writes nothing" empty_folder testing
run list "" "$work/evil.sfx" -l
check "-l shows an escape sequence escaped" bash -c "grep -qF 'evil^[[2J^[]0;pwned^G.txt' '$work/out' && ! grep -q \$'\\x1b' '$work/out'"

# A damaged program: one byte of b.txt's data changed.
cp two.sfx damaged.sfx
offset=$(python3 -c "
import zipfile; z = zipfile.ZipFile('damaged.sfx'); i = z.getinfo('two/b.txt')
print(i.header_offset + 30 + len(i.filename.encode()) + len(i.extra) + i.compress_size // 2)")
printf '\x5a' | dd of=damaged.sfx bs=1 seek="$offset" conv=notrunc status=none
run testing "" "$work/damaged.sfx" -t
expect "-t on a damaged program" 2 ""
check "-t names the damaged entry and the error" grep -qx "DAMAGED: two/b.txt: format::zip::item_reader exception: CRC mismatch, data is invalid." "$work/out"
check "-t tests the rest" bash -c "grep -qx 'ok: two/sub/a.txt' '$work/out' && tail -1 '$work/out' | grep -qx 'errors in 1 of 4 entries'"
"$pack" --test "$work/damaged.sfx" >pack-test.txt
check "-t on the damaged program says what --test says" cmp -s "$work/out" pack-test.txt
check "-t on a damaged program writes nothing" empty_folder testing
cp "$stub" bare.sfx
run testing "" "$work/bare.sfx" -t
expect "-t on a program without an archive" 2 \
  "format::zip::archive exception: cannot locate the end header: no archive follows the program."
run list "" "$work/bare.sfx" -l
expect "-l on a program without an archive" 2 \
  "format::zip::archive exception: cannot locate the end header: no archive follows the program."
# A download cut short: the archive begins, its end is missing.
head -c "$(($(stat -c %s two.sfx) - 40))" two.sfx >cut.sfx && chmod +x cut.sfx
run cut "" "$work/cut.sfx" -q
expect "a program cut short says so" 2 "format::zip::archive exception: cannot locate the end header: \
the file is incomplete (a download cut short?); download it again."
check "a program cut short writes nothing" empty_folder cut
# -l -h and --list -h: sizes as people read them, the same from both; every
# line of a listing of ordinary names fits 80 columns
"$pack" --list -h "$work/tree.sfx" >pack-list.txt
run list "" "$work/tree.sfx" -l -h
check "-l -h prints what --list -h prints" cmp -s "$work/out" pack-list.txt
check "-l -h: the sizes in kB" bash -c "tail -1 '$work/out' | grep -qE '^ *[0-9.]+ kB +[0-9.]+ kB +308 entries\$'"
check "-l lines fit 80 columns" bash -c "[ \$(wc -L <'$work/out') -le 80 ] && [ \$('$work/tree.sfx' -l | wc -L) -le 80 ]"

# -- -p: unattended encrypted extraction and testing
printf 'open sesame\n' >right.txt
printf 'open sesame\r\nsecond line\n' >right-crlf.txt
printf 'wrong\n' >wrong.txt
: >empty.txt
for file in right right-crlf; do
  run enc "" "$work/secret.sfx" -q -p "$work/$file.txt"
  expect "-p with the right passphrase ($file) asks nothing" 0 ""
  check "-p $file: the files come out right" diff -r "$src/two" enc/two
done
run enc "" "$work/secret.sfx" -t -p "$work/right.txt"
expect "-t -p with the right passphrase" 0 ""
check "-t -p right: every entry ok" bash -c "[ \$(grep -c '^ok: ' '$work/out') = 2 ]"
run enc "open sesame\n" "$work/secret.sfx" -t
expect "-t asks for the passphrase once when none is given" 0 "Enter the passphrase: "
# One check byte tells a wrong passphrase in 255 of 256 archives.
run enc "" "$work/secret.sfx" -q -p "$work/wrong.txt"
first=$(unzip -Z1 secret.zip | grep -v '/$' | head -1)
expect "-p with a wrong passphrase" 2 "format::zip::encryption_header exception: bad passphrase: $first."
run enc "" "$work/secret.sfx" -t -p "$work/wrong.txt"
expect "-t -p with a wrong passphrase" 2 ""
check "-t -p wrong: each encrypted entry named as one the passphrase does not open" bash -c "
  [ \$(grep -c '^BAD PASSPHRASE: two/' '$work/out') = 2 ] && ! grep -q DAMAGED '$work/out'"
run enc "" "$work/secret.sfx" -q -p "$work/empty.txt"
expect "-p with an empty file" 2 "quillon::self::entry exception: the passphrase file is empty."
check "nothing is written for an empty passphrase file" empty_folder enc
run enc "" "$work/secret.sfx" -q -p "$work/missing.txt"
expect "-p with a missing file" 2 "io::fork exception: cannot open \"$work/missing.txt\"; 2 No such file or directory."
check "nothing is written for a missing passphrase file" empty_folder enc

# -- -h: the usage text on standard output
program_usage() {
  cat <<EOF
usage: two.sfx [-q] [-y] [-d DIR] [-o | -n] [-p FILE] [-x] [-f]
               [-j N] [-- ARGS]
               -l [-h] | -t [-p FILE]
               -h | --version

Extracts the files inside this program. Without -q or -d it asks where
to; it asks before it replaces an existing file. A message the program
carries is shown first, except with -q or -y: such a run has accepted it.

  -q          quiet: no destination question, no progress display
  -d DIR      extract into DIR (made with its parents when missing)
  -o          overwrite existing files without asking
  -n          never overwrite: keep every existing file
  -l          list the entries (size, date, name); writes nothing
  -l -h       the same with sizes in kB, MB and GB
  -t          test every entry (decode it, check its CRC); writes nothing
  -p FILE     the passphrase of encrypted entries is the first line of FILE
  -x          extract only: do not run the program the archive names
  -j N        write files with N threads (default: one per processor)
  -f, --no-space-check
              extract even when the destination has less free space than
              the files need
  -y, --accept
              accept the program's message without showing it
  -log FILE   with any of them: write what was done and any error to FILE
              (also /log FILE), for runs that nobody watches
  -- ARGS     give ARGS to the program the archive runs after extracting
  -h, --help  this text
  --version   the version of this program

Exit codes: 0 done, 1 cancelled, 2 error (for -t: a damaged entry),
3 any other failure. The errors of a run with -q, -l or -t are never
shown in a window: they go to standard error (or the console).
EOF
}
for args in "-h" "--help" "-q -h"; do
  # shellcheck disable=SC2086
  run help "" "$work/two.sfx" $args
  expect "$args" 0 ""
  check "$args prints the usage" bash -c "[ \"\$(cat '$work/out')\" = \"\$(cat)\" ]" < <(program_usage)
  check "$args writes nothing" empty_folder help
done

# -- switch errors: exit 2, the error and the usage on standard error,
#    nothing written, nothing asked
switch_error() {  # switch_error MESSAGE ARGS...
  local message=$1; shift
  run wrong "y\ny\n" "$work/two.sfx" "$@"
  expect "$* is refused" 2 "quillon::self::options exception: $message."$'\n\n'"$(program_usage)"
  check "$* writes nothing" empty_folder wrong
  check "$* prints nothing on standard output" bash -c "[ ! -s '$work/out' ]"
}
switch_error 'unknown switch "-z"' -z
switch_error 'unknown switch "-Q"' -Q
switch_error 'unknown switch "--quiet"' --quiet
switch_error 'unknown switch "-q "' "-q "
switch_error 'unknown switch "-qo"' -qo
switch_error 'unexpected argument "/q" (switches only)' /q
switch_error 'unexpected argument " -q" (switches only)' " -q"
switch_error 'unexpected argument "x" (switches only)' -q x
switch_error 'unexpected argument "" (switches only)' ""
switch_error '-d needs a folder' -q -d
switch_error '-d needs a folder' -d ""
switch_error '-p needs a file' -t -p
switch_error '-d is given twice' -d a -d b
switch_error '-o and -n exclude each other' -o -n
switch_error '-l and -t exclude each other' -l -t
switch_error 'unknown switch "-^[[31m"' $'-\e[31m'

# -- a signed Windows program: quillon-pack --windows, then osslsigncode
#    with a throw-away certificate and a chain large enough (more than
#    65557 bytes) that the end record lies outside the window searched from
#    the end of the file: only the certificate table's start finds it.
if [ ! -f "$stub32" ]; then
  echo "SKIPPED: the signed program: no Windows stub at $stub32"
elif ! command -v osslsigncode >/dev/null || ! command -v openssl >/dev/null; then
  echo "SKIPPED: the signed program: osslsigncode or openssl is missing"
else
  mkdir signing && (
    cd signing &&
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout key.pem -out cert.pem \
      -days 2 -subj "/CN=Quillon test signer" >/dev/null 2>&1 &&
    for i in $(seq 1 150); do
      openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null \
        -days 2 -subj "/CN=Quillon filler certificate $i/O=$(printf "%060d" "$i")/OU=$(printf "%060d" 0)" 2>/dev/null
    done >chain.pem
  ) || fail "making the throw-away certificates"
  "$pack" --windows --stub "$stub32" -o unsigned.exe "$src/two" >/dev/null 2>&1 || fail "packing for Windows"
  if osslsigncode sign -certs signing/cert.pem -ac signing/chain.pem -key signing/key.pem -n "Quillon test" \
       -in unsigned.exe -out signed.exe >signing/log 2>&1; then pass; else fail "osslsigncode signs the program"; cat signing/log; fi
  check "osslsigncode verify accepts the signed program" bash -c "osslsigncode verify -CAfile signing/cert.pem -in signed.exe >signing/verify 2>&1 || { cat signing/verify; false; }"
  size_unsigned=$(stat -c %s unsigned.exe) size_signed=$(stat -c %s signed.exe)
  check "the certificates are larger than the end record's search window" [ $((size_signed - size_unsigned)) -gt 65557 ]
  "$pack" --list unsigned.exe >unsigned-list.txt
  check "--list on the signed program" bash -c "'$pack' --list signed.exe >signed-list.txt && cmp -s signed-list.txt unsigned-list.txt"
  check "--test on the signed program" bash -c "'$pack' --test signed.exe >signed-test.txt && grep -qx 'no errors in 4 entries' signed-test.txt"
  # The hazard is real: a search from the end of the file misses the record.
  check "unzip, searching from the end of the file, does not find the archive" bash -c "! unzip -tq signed.exe >/dev/null 2>&1"
  check "a program signed without a chain lists and tests too" bash -c "
    osslsigncode sign -certs signing/cert.pem -key signing/key.pem -in unsigned.exe -out small.exe >/dev/null 2>&1 &&
    '$pack' --list small.exe | cmp -s - unsigned-list.txt && '$pack' --test small.exe >/dev/null"
fi

# -- a forged certificate table: data directory 4 aimed at the end of an
#    inner zip that the archive stores, so that it runs to the end of the
#    file; the outer archive is what every tool reads, and so must the stub
#    and quillon-pack
if [ -f "$stub32" ]; then
  mkdir -p "$src/forged/inner" && echo "inside" >"$src/forged/inner/hidden.txt" && echo "outside" >"$src/forged/shown.txt"
  (cd "$src/forged/inner" && zip -qX ../inner.zip hidden.txt) && rm -r "$src/forged/inner"
  (cd "$src/forged" && zip -qX0 ../forged.zip inner.zip shown.txt)
  "$pack" --windows --stub "$stub32" -o forged.exe "$src/forged.zip" >/dev/null 2>&1 || fail "packing the forged program"
  "$pack" --list forged.exe >forged-list.txt
  python3 "$here/aim_certificates.py" forged.exe inner.zip >/dev/null || fail "aiming the certificate table"
  check "unzip reads the outer archive of the forged program" bash -c "unzip -Z1 forged.exe | sort | tr '\n' ' ' | grep -qx 'inner.zip shown.txt '"
  check "--list on the forged program lists the outer archive" bash -c "'$pack' --list forged.exe | cmp -s - forged-list.txt"
  check "--test on the forged program tests the outer archive" bash -c "'$pack' --test forged.exe | grep -qx 'no errors in 2 entries'"
else
  echo "SKIPPED: the forged certificate table: no Windows stub at $stub32"
fi

summary
