#!/usr/bin/env bash
# The POSIX stub from the outside: archives made by Info-ZIP zip, Python's
# zipfile and 7z, appended to quillon-sfx as they are and with offsets
# adjusted by `zip -A`, run in scratch folders with answers piped in. Every
# exit code: 0 done, 1 cancelled at each question, 2 each kind of error with
# its exact text, 3 when memory runs out.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${QUILLON_BINARY_DIR:-build/native}/bin" && pwd)
stub="$bin/quillon-sfx"
[ -x "$stub" ] || { echo "no stub at $stub"; exit 1; }
cd "$work"

show_failure() {  # what the last run said
  [ -f "$work/err" ] && sed 's/^/    stderr: /' "$work/err" | tail -8
}

# sfx NAME ARCHIVE: the stub with ARCHIVE appended, executable.
sfx() { cat "$stub" "$2" >"$1" && chmod +x "$1"; }

# run DIR INPUT PROGRAM ARGS...: runs PROGRAM in a fresh folder DIR with
# INPUT on standard input; the exit code is left in $code, standard error
# in $work/err.
run() {
  local dir=$1 input=$2; shift 2
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && printf '%b' "$input" | "$@" >"$work/out" 2>"$work/err")
  code=$?
}

expect() {  # expect NAME CODE [EXACT-STDERR]: checks the last run
  local name=$1 wanted=$2
  if [ "$code" != "$wanted" ]; then fail "$name (exit $code, wanted $wanted)"; return; fi
  if [ $# -ge 3 ] && [ "$(cat "$work/err")" != "$3" ]; then
    fail "$name (standard error differs)"; echo "    wanted: $3"; return; fi
  pass
}

same_tree() {  # same_tree NAME A B: contents, names and modification times
  if diff -r "$2" "$3" >/dev/null &&
     [ "$(cd "$2" && find . -type f -printf '%p %T@\n' | sort)" = "$(cd "$3" && find . -type f -printf '%p %T@\n' | sort)" ]
  then pass; else fail "$1: the extracted tree differs"; diff -r "$2" "$3" | head -5; fi
}

# A tree of real files: text, a binary, an empty file, nested and non-ASCII
# names. Times on even seconds: Zip keeps two-second DOS times.
src="$work/src"
mkdir -p "$src/tree/docs/deep/deeper" "$src/tree/καλημέρα" "$src/tree/bin"
cp /usr/share/common-licenses/GPL-3 "$src/tree/docs/"
cp "$stub" "$src/tree/bin/program"
head -c 200000 /dev/urandom >"$src/tree/bin/random.bin"
: >"$src/tree/docs/empty.txt"
echo "deep" >"$src/tree/docs/deep/deeper/leaf.txt"
echo "crème brûlée" >"$src/tree/καλημέρα/café.txt"
find "$src/tree" -exec touch -d '2021-06-15 10:20:30' {} +
touch -d '2019-01-02 03:04:06' "$src/tree/docs/GPL-3"

(cd "$src" && zip -qrX ../infozip.zip tree && zip -qrX0 ../stored.zip tree && 7z a -tzip -bd ../7z.zip tree >/dev/null)
python3 - "$src" <<'PY'
import os, sys, zipfile
src = sys.argv[1]
def add_tree(archive, compression):
    for root, folders, files in os.walk(os.path.join(src, "tree")):
        for name in sorted(folders + files):
            path = os.path.join(root, name)
            archive.write(path, os.path.relpath(path, src), compress_type=compression)
with zipfile.ZipFile(os.path.join(src, "..", "python.zip"), "w") as archive:
    add_tree(archive, zipfile.ZIP_DEFLATED)
# Written to a pipe: sizes and CRCs follow the data in data descriptors.
read, write = os.pipe()
if os.fork() == 0:
    os.close(read)
    with os.fdopen(write, "wb") as pipe, zipfile.ZipFile(pipe, "w") as archive:
        add_tree(archive, zipfile.ZIP_DEFLATED)
    os._exit(0)
os.close(write)
with os.fdopen(read, "rb") as pipe, open(os.path.join(src, "..", "streamed.zip"), "wb") as out:
    out.write(pipe.read())
os.wait()
PY

# -- exit 0: quiet extractions of archives from every tool, both offset forms
for archive in infozip stored 7z python streamed; do
  sfx "$archive.sfx" "$archive.zip"
  run "x-$archive" "" "$work/$archive.sfx" -q
  expect "$archive: quiet extraction" 0 ""
  same_tree "$archive" "$src" "x-$archive"
  cp "$archive.sfx" "$archive-adjusted.sfx"
  zip -qA "$archive-adjusted.sfx"
  run "x-$archive-adjusted" "" "$work/$archive-adjusted.sfx" -q
  expect "$archive with offsets adjusted by zip -A" 0 ""
  same_tree "$archive adjusted" "$src" "x-$archive-adjusted"
done
if unzip -tq infozip-adjusted.sfx >/dev/null; then pass; else fail "zip -A output is a valid zip"; fi

# -- the destination question
run typed "dest\n" "$work/infozip.sfx"
expect "a typed destination" 0 "Extract to: [$work/typed] "
same_tree "typed destination" "$src" typed/dest
run nested "new/nested/dest\n" "$work/infozip.sfx"
expect "a destination whose folders do not exist yet" 0 "Extract to: [$work/nested] "
same_tree "new nested destination" "$src" nested/new/nested/dest
run absolute "$work/absolute/elsewhere\n" "$work/infozip.sfx"
expect "an absolute destination" 0 "Extract to: [$work/absolute] "
same_tree "absolute destination" "$src" absolute/elsewhere
run default "\n" "$work/infozip.sfx"
expect "an empty answer keeps the current folder" 0 "Extract to: [$work/default] "
same_tree "current folder" "$src" default
run cancelled "" "$work/infozip.sfx"
expect "end of input at the destination question cancels" 1 "Extract to: [$work/cancelled] "
[ -z "$(ls cancelled)" ] && pass || fail "nothing is extracted after cancelling the destination"

# -- "-q" only as the whole word: anything else is a switch error (every
#    switch and its errors: switches_posix.sh)
for args in "-Q" "/q" "-q " " -q" "--quiet"; do
  run switch "\n" "$work/infozip.sfx" "$args"
  expect "\"$args\" is not the switch" 2
  [ -z "$(ls switch)" ] && pass || fail "nothing is extracted for \"$args\""
done
run switch "\n" "$work/infozip.sfx" -q x
expect "\"-q x\" is not the switch" 2

# -- overwriting
one="$work/one"
mkdir -p "$one/sub" && echo new >"$one/sub/a.txt" && echo new >"$one/b.txt"
(cd "$one" && zip -qrX ../one.zip sub b.txt)
sfx one.sfx one.zip
prepare_existing() { mkdir -p "$1/sub" && echo old >"$1/sub/a.txt" && echo old >"$1/b.txt"; }
rm -rf ow && mkdir ow && prepare_existing ow
asked=" already exists. Overwrite it? [y]es, [n]o, [A]ll, [N]one: "
(cd ow && printf '\n' | "$work/one.sfx" -q >/dev/null 2>"$work/err"); code=$?
expect "an empty answer cancels" 1 "$work/ow/sub/a.txt$asked"
[ "$(cat ow/sub/a.txt)" = old ] && [ "$(cat ow/b.txt)" = old ] && pass || fail "a refused file stays"
(cd ow && printf 'y\n\n' | "$work/one.sfx" -q >/dev/null 2>"$work/err"); code=$?
expect "cancelling the second question stops after the first file" 1 \
  "$work/ow/sub/a.txt$asked"$'\n'"$work/ow/b.txt$asked"
[ "$(cat ow/sub/a.txt)" = new ] && [ "$(cat ow/b.txt)" = old ] && pass || fail "files before the refusal are kept"
(cd ow && printf 'yes\ny\n' | "$work/one.sfx" -q >/dev/null 2>"$work/err"); code=$?
expect "yes and y overwrite" 0
[ "$(cat ow/b.txt)" = new ] && pass || fail "an agreed file is replaced"
(cd ow && "$work/one.sfx" -q </dev/null >/dev/null 2>"$work/err"); code=$?
expect "end of input at the overwrite question cancels" 1
rm -rf side && mkdir side && echo x >side/b.txt.rsrc
(cd side && printf '\n' | "$work/one.sfx" -q >/dev/null 2>"$work/err"); code=$?
expect "a side file alone counts as present" 1 "$work/side/b.txt$asked"
[ "$(ls side | tr '\n' ' ')" = "b.txt.rsrc sub " ] && pass || fail "the file before the refusal was written"

# -- encryption: asked once, wrong answers, cancel
make_encrypted() {  # a fresh Info-ZIP archive with three encrypted files
  rm -f enc.zip
  (cd "$src" && zip -qrX -P secret ../enc.zip tree/docs)
  sfx enc.sfx enc.zip
}
make_encrypted
run enc "secret\n" "$work/enc.sfx" -q
expect "the passphrase is asked once for every encrypted file" 0 "Enter the passphrase: "
diff -r "$src/tree/docs" enc/tree/docs >/dev/null && pass || fail "encrypted files come out right"
(cd "$src" && 7z a -tzip -bd -psecret -mem=ZipCrypto ../enc7.zip tree/docs >/dev/null)
sfx enc7.sfx enc7.zip
run enc7 "secret\n" "$work/enc7.sfx" -q
expect "7z's traditional encryption" 0 "Enter the passphrase: "
diff -r "$src/tree/docs" enc7/tree/docs >/dev/null && pass || fail "7z's encrypted files come out right"
# On a terminal: the passphrase is not echoed, and Ctrl+C at its prompt is
# Cancel with echo turned back on.
rm -rf enc-tty && mkdir enc-tty
(cd enc-tty && "$here/pty_answer.py" "Enter the passphrase:" 'secret\n' \
  bash -c "$work/enc.sfx -q; echo code=\$?" >"$work/tty.log" 2>&1)
if grep -q "code=0" "$work/tty.log" && ! grep -q secret "$work/tty.log" && grep -q "Enter the passphrase:" "$work/tty.log"
then pass; else fail "the passphrase is read without echo on a terminal"; cat -v "$work/tty.log" | head -5; fi
rm -rf enc-tty && mkdir enc-tty
(cd enc-tty && "$here/pty_answer.py" "Enter the passphrase:" '\x03' \
  bash -c "$work/enc.sfx -q; echo code=\$?; stty -a" >"$work/tty.log" 2>&1)
if grep -q "code=1" "$work/tty.log" && grep -qE "(^| )echo( |$)" <(tr -d '\r' <"$work/tty.log")
then pass; else fail "Ctrl+C at the passphrase prompt cancels and leaves echo on"; cat -v "$work/tty.log" | head -5; fi
run enc-cancel "" "$work/enc.sfx" -q
expect "end of input at the passphrase question cancels" 1 "Enter the passphrase: "
# One check byte tells a wrong passphrase in 255 of 256 archives; a fresh
# archive is made when this one happens to accept it.
for attempt in 1 2 3; do
  run enc-wrong "wrong\n" "$work/enc.sfx" -q
  grep -qF "bad passphrase" "$work/err" && break
  make_encrypted
done
# The error names the entry: the archive's first file.
first=$(unzip -Z1 enc.zip | grep -v '/$' | head -1)
expect "a wrong passphrase" 2 "Enter the passphrase: "$'\n'"format::zip::encryption_header exception: bad passphrase: $first."

# -- errors: exit 2 and the display text on one line
cp "$stub" bare.sfx && chmod +x bare.sfx
run bare "" "$work/bare.sfx" -q
expect "a stub with nothing appended" 2 \
  "format::zip::archive exception: cannot locate the end header: no archive follows the program."

python3 - <<'PY'
import zipfile
with zipfile.ZipFile("crc.zip", "w") as archive:
    archive.writestr("data.txt", b"0123456789" * 100, compress_type=zipfile.ZIP_STORED)
data = bytearray(open("crc.zip", "rb").read())
data[30 + len("data.txt") + 5] ^= 0xFF   # one byte of the stored data
open("crc.zip", "wb").write(data)
with zipfile.ZipFile("escape.zip", "w") as archive:
    archive.writestr("fine.txt", b"fine")
    archive.writestr("../escaped.txt", b"outside")
with zipfile.ZipFile("bzip2.zip", "w") as archive:   # method 12
    archive.writestr("b.txt", b"bzip2 " * 1000, compress_type=zipfile.ZIP_BZIP2)
# 65535 central records for one stored entry: the reader's list of entries
# then needs a few MiB more than a small archive.
import io, struct
made = io.BytesIO()
with zipfile.ZipFile(made, "w") as archive:
    archive.writestr("x", b"x", compress_type=zipfile.ZIP_STORED)
data = made.getvalue()
end = data.rindex(b"PK\x05\x06")
size, offset = struct.unpack("<II", data[end + 12:end + 20])
count = 65535
with open("many.zip", "wb") as out:
    out.write(data[:offset] + data[offset:offset + size] * count)
    out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size * count, offset, 0))
PY
sfx crc.sfx crc.zip
run crc "" "$work/crc.sfx" -q
expect "a damaged entry" 2 "format::zip::item_reader exception: CRC mismatch, data is invalid: data.txt."
check "a damaged entry is not left behind" [ -z "$(ls -A crc)" ]
sfx escape.sfx escape.zip
run escape "" "$work/escape.sfx" -q
expect "a name that leaves the destination" 2 'format::zip::archive exception: unsafe entry name "../escaped.txt".'
[ ! -e escaped.txt ] && [ -z "$(ls escape)" ] && pass || fail "nothing is written for an unsafe archive"

sfx bzip2.sfx bzip2.zip
run bzip2 "" "$work/bzip2.sfx" -q
expect "an unsupported method" 2 "format::zip::archive exception: unsupported compression method 12 (bzip2): b.txt."

: >"$work/blocker-file"
run blocked "$work/blocker-file/inside\n" "$work/one.sfx"
expect "a destination below a file" 2 \
  "Extract to: [$work/blocked] "$'\n'"quillon::self::entry exception: cannot make the folder \"$work/blocker-file/inside\": \"$work/blocker-file\" is a file, not a folder."

# -- a destination without the room or the right to write: the free space
#    is compared with the files' size before the first file (-f skips it,
#    and the file the disk cannot hold goes); a read-only file system says
#    so. On file systems of the test's own (root, a mount namespace).
python3 -c "
import zipfile
with zipfile.ZipFile('big.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('small.txt', b'x')
    z.writestr('big.bin', bytes(3000000))"
sfx big.sfx big.zip
mkdir -p small ro
# on_mount OPTIONS FOLDER ARGS...: big.sfx -q ARGS on a tmpfs mounted at
# FOLDER with OPTIONS; what is left in FOLDER/out is listed in $work/left.
on_mount() {
  unshare -m sh -c 'mount -t tmpfs -o "$1" tmpfs "$2" || exit 99; w=$3; shift 3
    "$w/big.sfx" -q "$@" >"$w/out" 2>"$w/err"; code=$?; ls -A "$w/small/out" >"$w/left" 2>/dev/null; exit $code' \
    - "$@" </dev/null
  code=$?
}
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  on_mount size=1m "$work/small" "$work" -d "$work/small/out"
  expect "a disk too small: exit 2" 2 "quillon::self::driver exception: not enough free space: the files need 3.0 MB, \
1.0 MB free on \"$work/small/out\" (free some space, choose another folder with -d, or extract all the same with -f)."
  check "a disk too small: nothing written" [ ! -s left ]
  on_mount size=1m "$work/small" "$work" -d "$work/small/out" -f
  check "-f: the disk fills up (exit $code)" bash -c "[ $code = 2 ] && grep -qF 'small/out/big.bin\"; 28 No space left on device.' err"
  check "-f: the file the disk could not hold is removed" [ "$(cat left)" = small.txt ]
  on_mount ro "$work/ro" "$work" -d "$work/ro/x"
  expect "a read-only file system" 2 \
    "io::directory exception: cannot create \"$work/ro/x\"; 30 Read-only file system."
else
  skip "a disk too small and a read-only file system (needs root and unshare)"
  chmod 555 ro
  run denied "" "$work/big.sfx" -q -d "$work/ro/x"
  expect "a folder the user may not write" 2 "io::directory exception: cannot create \"$work/ro/x\"; 13 Permission denied."
fi

# -- exit 3: out of memory ends with that message. The smallest address
# space limit under which a small archive extracts is too small for the
# entry list of 65535 records.
sfx many.sfx many.zip
limit=""
for candidate in $(seq 1000 200 40000); do
  rm -rf probe && mkdir probe
  if (cd probe && ulimit -v "$candidate" && "$work/one.sfx" -q </dev/null >/dev/null 2>&1); then limit=$candidate; break; fi
done
if [ -n "$limit" ]; then
  run oom "" bash -c "ulimit -v $limit; exec \"$work/many.sfx\" -q"
  expect "out of memory (address space limited to $limit KiB)" 3 "out of memory"
else
  fail "no address space limit lets the stub run"
fi

# -- unnamed entries (zip reading standard input) take the program's name
echo "from standard input" | zip -q -fz- >stdin.zip  # no Zip64: the stub reads none
sfx data.zip stdin.zip
run unnamed "" "$work/data.zip" -q
expect "an unnamed entry" 0 ""
[ "$(cat unnamed/data 2>/dev/null)" = "from standard input" ] && pass || fail "the unnamed entry is named after the program"

# -- the progress line only on a terminal: the percentage, which file of
#    how many, its name
run progress "\n" "$work/infozip.sfx"
expect "no progress line when standard error is not a terminal" 0 "Extract to: [$work/progress] "
rm -rf tty && mkdir tty
(cd tty && "$here/pty_answer.py" "Extract to:" '\n' "$work/infozip.sfx" >"$work/tty.log" 2>&1); code=$?
if [ "$code" = 0 ] && grep -qE "[0-9]+% [0-9]+/6 $work/tty/tree" "$work/tty.log"; then pass; else
  fail "a progress line on a terminal"; tail -c 300 "$work/tty.log" | cat -v; fi

summary
