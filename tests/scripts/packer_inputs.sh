#!/usr/bin/env bash
# quillon-pack and what it reads: Unix modes and UTC times kept, symbolic
# links stored as links (or followed), sockets and FIFOs skipped, links in
# loops, files that change while they are packed, signals in the middle of a
# pack, large files streamed in pieces, and the same bytes whatever the
# number of threads.
set -uo pipefail
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

bin=$(cd "${QUILLON_BINARY_DIR:-build/native}/bin" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-.}" && pwd)
pack="$bin/quillon-pack"
stub="$bin/quillon-sfx"
records="$source_dir/tests/scripts/zip_records.py"


no_partial() { [ -z "$(ls "$work" | grep -F '.partial-')" ]; }

refuses() {  # refuses NAME EXPECTED-TEXT COMMAND...: exit 2, one message, no output file
  local name=$1 expected=$2; shift 2
  rm -f "$work/refused.sfx"
  "$@" >"$work/last.log" 2>&1
  local code=$?
  if [ $code -eq 2 ] && grep -qF -- "$expected" "$work/last.log" && [ "$(wc -l <"$work/last.log")" -eq 1 ] &&
     [ ! -e "$work/refused.sfx" ] && no_partial; then passed=$((passed + 1)); else
    echo "FAILED: $name (exit $code, wanted 2 and \"$expected\")"; sed 's/^/    /' "$work/last.log"
    failures=$((failures + 1)); fi
}

# wait_for_partial: until the packer has made its temporary output, which it
# does only after the walk has measured every input.
wait_for_partial() {
  for _ in $(seq 600); do no_partial || return 0; sleep 0.1; done
  return 1
}

cd "$work"

# -- modes and times
mkdir -p meta/bin meta/locked
printf '#!/bin/sh\necho run\n' >meta/bin/install.sh && chmod 755 meta/bin/install.sh
echo private >meta/secret.txt && chmod 600 meta/secret.txt
echo fixed >meta/read-only.txt && chmod 444 meta/read-only.txt
chmod 750 meta/locked
touch -d '2009-02-13 23:31:30 UTC' meta/bin/install.sh
check "pack with modes" "$pack" --stub /bin/true -o meta.sfx meta
check "unzip gives the script mode 755" bash -c "mkdir u && cd u && unzip -q ../meta.sfx && [ \$(stat -c %a meta/bin/install.sh) = 755 ] && [ \$(stat -c %a meta/secret.txt) = 600 ] && [ \$(stat -c %a meta/locked) = 750 ]"
check "Unix host, modes and the DOS bits in the attributes" python3 -c "
import zipfile
z = zipfile.ZipFile('meta.sfx')
def attr(n): i = z.getinfo(n); assert i.create_system == 3, i.create_system; return i.external_attr
assert attr('meta/bin/install.sh') >> 16 == 0o100755
assert attr('meta/read-only.txt') & 0x01 and attr('meta/read-only.txt') >> 16 == 0o100444
assert not attr('meta/secret.txt') & 0x01
assert attr('meta/locked/') & 0x10 and attr('meta/locked/') >> 16 == 0o40750"
check "an extended timestamp in every local and central record" python3 "$records" times meta.sfx
check "the timestamp holds the UTC time" bash -c "unzip -Z -v meta.sfx meta/bin/install.sh | grep -q 'UT extra field modtime): 2009 Feb 13 23:31:30 UTC'"
check "unzip sets the UTC time whatever the zone" bash -c "mkdir tz && cd tz && TZ=Asia/Tokyo unzip -q ../meta.sfx && [ \$(stat -c %Y meta/bin/install.sh) = 1234567890 ]"
if [ -x "$stub" ]; then
  check "the stub gives the script mode 755" bash -c "'$pack' -o meta-real.sfx meta && mkdir s && cd s && ../meta-real.sfx -q </dev/null && [ \$(stat -c %a meta/bin/install.sh) = 755 ] && [ \"\$(meta/bin/install.sh)\" = run ] && [ \$(stat -c %a meta/secret.txt) = 600 ]"
  check "the stub sets the UTC time" bash -c "[ \$(stat -c %Y s/meta/bin/install.sh) = 1234567890 ]"
fi

# -- links
mkdir -p links/docs links/sub
echo "the text" >links/docs/real.txt
ln -s docs/real.txt links/to-file
ln -s docs links/to-folder
ln -s nowhere links/dangling
ln -s ../docs/real.txt links/sub/up-file
check "pack links" "$pack" --stub /bin/true -o links.sfx links
check "links are stored as links, their target their data" python3 -c "
import zipfile, stat
z = zipfile.ZipFile('links.sfx')
for name, target in (('links/to-file', b'docs/real.txt'), ('links/to-folder', b'docs'), ('links/dangling', b'nowhere'), ('links/sub/up-file', b'../docs/real.txt')):
    i = z.getinfo(name)
    assert stat.S_ISLNK(i.external_attr >> 16), (name, oct(i.external_attr >> 16))
    assert z.read(name) == target, (name, z.read(name))
assert not any(n.startswith('links/to-folder/') for n in z.namelist())"
check "unzip makes the links" bash -c "mkdir ul && cd ul && unzip -q ../links.sfx && [ \"\$(readlink links/to-file)\" = docs/real.txt ] && [ \"\$(readlink links/dangling)\" = nowhere ] && [ \"\$(cat links/sub/up-file)\" = 'the text' ]"
if [ -x "$stub" ]; then
  check "the stub makes the links" bash -c "'$pack' -o links-real.sfx links && mkdir sl && cd sl && ../links-real.sfx -q </dev/null && [ \"\$(readlink links/to-folder)\" = docs ] && [ \"\$(readlink links/dangling)\" = nowhere ] && [ \"\$(cat links/to-file)\" = 'the text' ]"
fi
check "--follow-links packs what links point at" bash -c "'$pack' --stub /bin/true --follow-links -o followed.sfx links && python3 -c \"
import zipfile, stat
z = zipfile.ZipFile('followed.sfx')
assert z.read('links/to-file') == b'the text\\\\n' and stat.S_ISREG(z.getinfo('links/to-file').external_attr >> 16)
assert stat.S_ISLNK(z.getinfo('links/dangling').external_attr >> 16)\""
check "--follow-links packs a folder linked from elsewhere" bash -c "mkdir -p elsewhere && ln -s ../links/docs elsewhere/docs && '$pack' --stub /bin/true --follow-links -o elsewhere.sfx elsewhere && unzip -p elsewhere.sfx elsewhere/docs/real.txt | grep -q 'the text'"
check "--follow-links skips a folder packed already, with one warning" bash -c "'$pack' --stub /bin/true --follow-links -o followed.sfx links 2>w.txt && [ \$(wc -l <w.txt) = 1 ] && grep -q 'skipped \"links/to-folder\": a folder packed already' w.txt"
check "a link named as the input is followed" bash -c "ln -s links named && '$pack' --stub /bin/true -o named.sfx named && unzip -l named.sfx | grep -q 'named/docs/real.txt'"
ln -s /etc/passwd links-out 2>/dev/null; mkdir -p outside leaving/in && ln -s /etc/passwd outside/passwd && echo kept >outside/kept.txt
ln -s ../../../etc/passwd leaving/in/passwd
refuses "a relative link that leaves what is packed" "points outside what is packed" "$pack" --stub /bin/true -o "$work/refused.sfx" leaving
check "a link to an absolute path is skipped with a warning naming --follow-links" bash -c "'$pack' --stub /bin/true -o abs.sfx outside 2>w.txt &&
  grep -q 'skipped \"outside/passwd\": a symbolic link to the absolute path \"/etc/passwd\".*--follow-links' w.txt &&
  [ \"\$(unzip -Z1 abs.sfx)\" = \"\$(printf 'outside/\\noutside/kept.txt')\" ]"
check "--follow-links packs what such a link points at" bash -c "'$pack' --stub /bin/true --follow-links -o outside.sfx outside && unzip -p outside.sfx outside/passwd | cmp - /etc/passwd"

# -- what is never packed, and what --exclude leaves out
mkdir -p ex/.git/objects ex/src/__pycache__ ex/docs && echo x >ex/.git/HEAD && echo code >ex/src/a.py &&
  echo cache >ex/src/__pycache__/a.pyc && echo cache >ex/src/b.pyc && echo doc >ex/docs/a.txt && echo keep >ex/keep.txt
check "--exclude by last part and by path; .git never packed" bash -c "'$pack' --stub /bin/true --exclude '*.pyc' --exclude __pycache__ \
  --exclude 'ex/docs/*' -o ex.sfx ex && [ \"\$(unzip -Z1 ex.sfx | sort | tr '\\n' ' ')\" = 'ex/ ex/docs/ ex/keep.txt ex/src/ ex/src/a.py ' ]"
check "the output itself is not packed into the next one" bash -c "'$pack' --stub /bin/true -o ex/last.sfx ex && '$pack' --stub /bin/true -o ex/last.sfx ex &&
  ! unzip -Z1 ex/last.sfx | grep -q last.sfx"

# -- what is not a file, a folder or a link
mkdir -p special && echo kept >special/kept.txt && mkfifo special/pipe
python3 -c "import socket; s = socket.socket(socket.AF_UNIX); s.bind('special/socket')"
check "FIFOs and sockets are skipped with one warning each" bash -c "'$pack' --stub /bin/true -o special.sfx special 2>warnings.txt &&
  [ \$(wc -l <warnings.txt) = 2 ] && grep -q 'skipped \"special/pipe\": a FIFO' warnings.txt && grep -q 'special/socket\": a socket' warnings.txt &&
  unzip -Z1 special.sfx | sort | tr '\n' ' ' | grep -qx 'special/ special/kept.txt '"
check "a device named as input is skipped" bash -c "'$pack' --stub /bin/true -o device.sfx /dev/null special/kept.txt 2>w.txt && grep -q 'a device' w.txt && unzip -Z1 device.sfx | grep -qx kept.txt"

# -- the walk never visits a folder twice
mkdir -p loop/a/b && echo deep >loop/a/b/file && ln -s ../.. loop/a/b/back && ln -s a loop/again
check "links in a loop end the walk, stored as links" bash -c "'$pack' --stub /bin/true -o loop.sfx loop 2>w.txt && [ ! -s w.txt ] && [ \$(unzip -Z1 loop.sfx | wc -l) = 6 ]"
check "followed links in a loop: each folder once, one warning a repeat" bash -c "'$pack' --stub /bin/true --follow-links -o loop-followed.sfx loop 2>w.txt &&
  [ \$(wc -l <w.txt) = 2 ] && grep -q 'skipped \"loop/a/b/back\": a folder packed already' w.txt && grep -q 'skipped \"loop/again\": a folder packed already' w.txt &&
  [ \$(unzip -Z1 loop-followed.sfx | grep -c 'file\$') = 1 ]"
# Hazard: two links to the next folder on every level, 20 levels deep, made
# 2^20 paths through the same folders.
check "a folder reached by two links at every level is walked once" bash -c "mkdir -p fan/0 && for i in \$(seq 1 20); do mkdir fan/\$i; ln -s ../\$i fan/\$((i - 1))/x; ln -s ../\$i fan/\$((i - 1))/y; done &&
  '$pack' --stub /bin/true --follow-links -o fan.sfx fan 2>w.txt && [ \$(unzip -Z1 fan.sfx | wc -l) -lt 100 ] && [ \$(wc -l <w.txt) -lt 100 ]"
check "the same folder named twice is packed once" bash -c "'$pack' --stub /bin/true -o twice.sfx meta meta/ 2>w.txt && grep -q 'a folder packed already' w.txt && [ \$(unzip -Z1 twice.sfx | grep -c install.sh) = 1 ]"

# -- files that change while packed: the walk measures every file before the
# output is made, and the stub is read after that. A stub that is a named
# pipe holds the packer there until the test has changed a file and writes
# the stub: the change falls between the size the walk took and the reads,
# every time.
changed_while_packing() {  # changed_while_packing NAME FOLDER CHANGE...
  local name=$1 folder=$2; shift 2
  rm -f stub.fifo refused.sfx && mkfifo stub.fifo
  "$pack" --stub stub.fifo -o refused.sfx "$folder" >"$work/changed.log" 2>&1 &
  local pid=$!
  wait_for_partial
  "$@"
  cat /bin/true >stub.fifo
  wait $pid
  local code=$?
  if [ $code -eq 2 ] && grep -q "file changed while packing: \"$folder/data\"" changed.log && [ ! -e refused.sfx ] && no_partial; then
    passed=$((passed + 1)); else echo "FAILED: $name (exit $code)"; sed 's/^/    /' changed.log; failures=$((failures + 1)); fi
}
mkdir -p shrink grow large-shrink
head -c 200000 /dev/urandom >shrink/data && head -c 200000 /dev/urandom >grow/data
# A sparse file above the size that is streamed in pieces.
truncate -s 100M large-shrink/data
changed_while_packing "a file that shrinks while packed" shrink truncate -s 1000 shrink/data
changed_while_packing "a file that grows while packed" grow bash -c "echo more >>grow/data"
changed_while_packing "a streamed file that shrinks while packed" large-shrink truncate -s 90M large-shrink/data
changed_while_packing "a file replaced by a FIFO while packed" shrink bash -c "rm shrink/data && mkfifo shrink/data"

# -- signals: the temporary output goes with the program
killed_while_packing() {  # killed_while_packing SIGNAL
  rm -f stub.fifo && mkfifo stub.fifo
  "$pack" --stub stub.fifo -o killed.sfx meta 2>/dev/null &
  local pid=$!
  wait_for_partial
  kill -"$1" $pid
  { wait $pid; } 2>/dev/null
  local code=$?
  if [ $code -gt 128 ] && [ ! -e killed.sfx ] && no_partial; then passed=$((passed + 1)); else
    echo "FAILED: SIG$1 in the middle of a pack leaves no output (exit $code)"; ls "$work" | sed 's/^/    /'; failures=$((failures + 1)); fi
}
killed_while_packing TERM
killed_while_packing INT
killed_while_packing HUP
check "a stub read from a pipe" bash -c "'$pack' --stub <(cat /bin/true) -o piped.sfx meta && unzip -tq piped.sfx"

# -- large files: streamed in pieces, joined into one Deflate stream
mkdir -p large/text large/random
for f in /usr/share/common-licenses/*; do cat "$f"; done >large/one
while [ $(stat -c %s large/one) -lt $((70 << 20)) ]; do cat large/one large/one >large/two && mv large/two large/one; done
mv large/one large/text/licences.txt
head -c $((66 << 20)) /dev/urandom >large/random/noise.bin
check "large files pack" "$pack" --stub /bin/true -o large.sfx large
check "a streamed compressible file is deflated" python3 -c "
import zipfile
z = zipfile.ZipFile('large.sfx')
i = z.getinfo('large/text/licences.txt'); assert i.compress_type == 8 and i.compress_size < i.file_size // 4, i
i = z.getinfo('large/random/noise.bin'); assert i.compress_type == 0, i.compress_type"
check "unzip tests the streamed files" unzip -tq large.sfx
check "Python reads the joined stream" python3 -c "
import zipfile; assert zipfile.ZipFile('large.sfx').testzip() is None"
check "7z tests the streamed files" 7z t large.sfx
check "encrypted large files (their CRC read first)" bash -c "echo 'open sesame' >pw && '$pack' --stub /bin/true --zipcrypto --passphrase-file pw -o large-secret.sfx large &&
  unzip -tq -P 'open sesame' large-secret.sfx"
check "level 0 streams large files stored" bash -c "'$pack' --stub /bin/true -0 -o large0.sfx large && unzip -tq large0.sfx"
if [ -x "$stub" ]; then
  check "the stub extracts the streamed files" bash -c "'$pack' -o large-real.sfx large && mkdir sg && cd sg && ../large-real.sfx -q </dev/null && diff -r ../large large"
fi

# -- the same bytes whatever the threads, run after run
check "-j 1 and the default write the same bytes" bash -c "'$pack' --stub /bin/true -j 1 -o j1.sfx large meta links && '$pack' --stub /bin/true -o jn.sfx large meta links && cmp j1.sfx jn.sfx"
check "-j 3 writes the same bytes" bash -c "'$pack' --stub /bin/true -j3 -o j3.sfx large meta links && cmp j1.sfx j3.sfx"
check "two runs write the same bytes" bash -c "'$pack' --stub /bin/true -o again.sfx large meta links && cmp jn.sfx again.sfx"
refuses "-j 0" "-j takes a number" "$pack" --stub /bin/true -j 0 -o "$work/refused.sfx" meta
refuses "-j without a number" "-j takes a number" "$pack" --stub /bin/true -j x -o "$work/refused.sfx" meta

summary
