#!/usr/bin/env bash
# The POSIX stub writing files on several threads (-j 4) against one thread
# (-j 1): the same bytes, times and modes; the overwrite questions in the
# same order with the same answers; the same first error in archive order;
# a bomb stopped at its declared size.
set -uo pipefail
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"
bin=$(cd "${QUILLON_BINARY_DIR:-build/native}/bin" && pwd)
stub="$bin/quillon-sfx"
[ -x "$stub" ] || { echo "no stub at $stub"; exit 1; }
cd "$work"

# A tree of many small files and a few large ones, with modes and times of
# their own, in nested folders.
python3 - <<'PY'
import os, random
random.seed(7)
for i in range(1500):
    folder = "tree/d%d/e%d" % (i % 13, i % 5)
    os.makedirs(folder, exist_ok=True)
    name = "%s/f%04d.txt" % (folder, i)
    size = 300000 if i % 250 == 0 else random.randrange(0, 3000)
    with open(name, "wb") as out:
        out.write(bytes(random.choice(b"abcdefgh \n") for _ in range(size)))
    os.chmod(name, 0o600 if i % 3 == 0 else 0o644 if i % 3 == 1 else 0o755)
    os.utime(name, (1500000000 + i * 61, 1500000000 + i * 61))
for top, folders, files in os.walk("tree"):
    for folder in folders:
        os.utime(os.path.join(top, folder), (1400000000, 1400000000))
PY
"$bin/quillon-pack" -o tree.run tree >/dev/null 2>&1 || { fail "packing the tree"; summary; exit 1; }

listing() { (cd "$1" && find . -mindepth 1 -printf '%P %m %s %T@\n' | sort); }

./tree.run -q -d one -j 1 >one.out 2>&1
./tree.run -q -d many -j 4 >many.out 2>&1
check "-j 4 and -j 1 both succeed" bash -c "[ ! -s one.out ] && [ ! -s many.out ]"
check "-j 4 writes the bytes of -j 1" diff -r one many
check "-j 4 gives the times and modes of -j 1" diff <(listing one) <(listing many)
check "the files are the packed ones" diff -r tree one/tree

# The questions: thirty files exist already and twenty answers come, the
# end of the input then cancels at the twenty-first question. The
# transcript and what is left are the same for both.
for threads in 1 4; do
  rm -rf "asked$threads" && cp -r one "asked$threads"
  find "asked$threads" -type f ! -name 'f00[0-2][0-9].txt' -delete
  find "asked$threads" -type f -exec sh -c 'echo old >"$1"' _ {} \;
  printf 'y\nn\ny\nn\ny\nn\ny\nn\ny\nn\ny\nn\ny\nn\ny\nn\ny\nn\ny\nn\n' |
    ./tree.run -q -d "asked$threads" -j "$threads" >"asked$threads.out" 2>&1
  echo "exit $?" >>"asked$threads.out"
  sed -i "s|asked$threads|asked|g" "asked$threads.out"
done
check "the questions come in the same order with the same answers" diff asked1.out asked4.out
check "twenty-one questions, then the cancel (exit 1)" bash -c \
  "[ \$(grep -o 'Overwrite it?' asked4.out | wc -l) = 21 ] && tail -1 asked4.out | grep -qx 'exit 1'"
check "the cancel leaves what -j 1 leaves: the files before it written" diff -r asked1 asked4

# Two damaged entries: the first in archive order is the one reported.
python3 - <<'PY'
import struct, zipfile
with zipfile.ZipFile("damaged.zip", "w", zipfile.ZIP_DEFLATED) as archive:
    for i in range(400):
        archive.writestr("d/f%03d.txt" % i, ("line %d\n" % i) * (50 + i))
data = bytearray(open("damaged.zip", "rb").read())
with zipfile.ZipFile("damaged.zip") as archive:
    for victim in ("d/f150.txt", "d/f300.txt"):
        info = archive.getinfo(victim)
        # One bit of the stored CRC flipped, in both headers.
        data[info.header_offset + 14] ^= 1
        pos = struct.unpack_from("<I", data, data.rfind(b"PK\x05\x06") + 16)[0]
        while data[pos:pos + 4] == b"PK\x01\x02":
            name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
            if data[pos + 46:pos + 46 + name_len].decode() == victim:
                data[pos + 16] ^= 1
            pos += 46 + name_len + extra_len + comment_len
open("damaged.zip", "wb").write(bytes(data))
PY
cat "$stub" damaged.zip >damaged.run && chmod +x damaged.run
for threads in 1 4; do
  ./damaged.run -q -d "broken$threads" -j "$threads" >"broken$threads.out" 2>&1
  echo "exit $?" >>"broken$threads.out"
  sed -i "s|broken$threads|broken|g" "broken$threads.out"
done
check "the first damaged entry is the one reported" grep -q 'CRC mismatch, data is invalid: d/f150.txt' broken4.out
check "-j 4 reports what -j 1 does" diff broken1.out broken4.out
check "the damaged file is not left" test ! -e broken4/d/f150.txt
check "every file before it is written" bash -c "[ \$(ls broken4/d | grep -c 'f0\|f1[0-4]') = 150 ]"

# A bomb: an entry whose data runs past its declared size.
python3 - <<'PY'
import struct, zipfile
with zipfile.ZipFile("bomb.zip", "w", zipfile.ZIP_DEFLATED) as archive:
    for i in range(40):
        archive.writestr("b/f%02d.txt" % i, "small %d\n" % i)
    archive.writestr("b/zeros.bin", bytes(50 * 1024 * 1024))
    for i in range(40, 80):
        archive.writestr("b/f%02d.txt" % i, "small %d\n" % i)
data = bytearray(open("bomb.zip", "rb").read())
with zipfile.ZipFile("bomb.zip") as archive:
    info = archive.getinfo("b/zeros.bin")
struct.pack_into("<I", data, info.header_offset + 22, 1000)
pos = struct.unpack_from("<I", data, data.rfind(b"PK\x05\x06") + 16)[0]
while data[pos:pos + 4] == b"PK\x01\x02":
    name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
    if data[pos + 46:pos + 46 + name_len] == b"b/zeros.bin":
        struct.pack_into("<I", data, pos + 24, 1000)
    pos += 46 + name_len + extra_len + comment_len
open("bomb.zip", "wb").write(bytes(data))
PY
cat "$stub" bomb.zip >bomb.run && chmod +x bomb.run
./bomb.run -q -d bomb -j 4 >bomb.out 2>&1
code=$?
check "the bomb is an error (exit 2)" test "$code" = 2
check "the bomb is named" grep -q 'data longer than its declared size: b/zeros.bin' bomb.out
check "nothing of the bomb is left" test ! -e bomb/b/zeros.bin

summary
