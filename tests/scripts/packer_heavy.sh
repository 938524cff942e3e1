#!/usr/bin/env bash
# quillon-pack and Zip64 with files of several GiB: a file of 4 GiB or more,
# offsets and a directory past 4 GiB, and a zip appended behind a stub so
# large that its offsets no longer fit in 32 bits. Every output is read by
# unzip, 7z, bsdtar, Python's zipfile and the stub.
#
# It writes about 15 GiB and takes minutes, so it runs only when
# QUILLON_HEAVY_TESTS=1 (scripts/test.sh sets it); otherwise it reports
# itself skipped (exit 77).
set -uo pipefail
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"
if [ "${QUILLON_HEAVY_TESTS:-0}" != 1 ]; then
  echo "skipped: set QUILLON_HEAVY_TESTS=1 to run the multi-GiB Zip64 tests"
  exit 77
fi

bin=$(cd "${QUILLON_BINARY_DIR:-build/native}/bin" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-.}" && pwd)
pack="$bin/quillon-pack"
stub="$bin/quillon-sfx"
records="$source_dir/tests/scripts/zip_records.py"
# shellcheck source=../support/peer_readers.sh
. "$source_dir/tests/support/peer_readers.sh"

# extracted_by_stub NAME FILE FOLDER: the stub extracts FILE (packed with
# the real stub) into a folder of its own, the same as FOLDER.
extracted_by_stub() {
  [ -x "$stub" ] || return 0
  check "the stub extracts $1" bash -c "rm -rf out && mkdir out && cd out && '$2' -q </dev/null && diff -r '../$3' '$3'"
  rm -rf out
}

cd "$work"
df -h . | tail -1
# The outputs take about 15 GiB: on a machine without the room the test
# says so and is skipped, rather than failing on a full disk.
free_kib=$(df -Pk . | awk 'NR == 2 {print $4}')
if [ "$free_kib" -lt $((20 * 1024 * 1024)) ]; then
  echo "skipped: $((free_kib / 1024 / 1024)) GiB free in $work, 20 GiB needed"
  exit 77
fi

# -- a file of 5 GiB (sparse: its zeros deflate to a few MiB)
mkdir big && truncate -s 5G big/huge && echo "after the huge file" >big/z.txt
check "pack a file of 5 GiB" "$pack" -o big.sfx big
check "its local header holds both sizes in Zip64, its central record the size alone" bash -c "
  python3 '$records' zip64 big.sfx >z.txt && grep -qx 'central big/huge usize version 45' z.txt && grep -qx 'local big/huge version 45' z.txt && [ \$(wc -l <z.txt) = 2 ]"
read_by_all "a file of 5 GiB" big.sfx
extracted_by_stub "a file of 5 GiB" "$work/big.sfx" big
check "-j 1 writes the same bytes for a file of 5 GiB" bash -c "'$pack' -j 1 -o big1.sfx big && cmp big.sfx big1.sfx"
rm -f big1.sfx

# -- stored: the next entry and the directory lie past 4 GiB
check "pack 5 GiB stored" "$pack" -0 -o stored.sfx big
check "offsets and the directory past 4 GiB are Zip64" bash -c "
  python3 '$records' zip64 stored.sfx >z.txt && grep -qx end z.txt && grep -qx 'central big/z.txt offset version 45' z.txt &&
  grep -qx 'central big/huge usize,csize version 45' z.txt && grep -qx 'local big/huge version 45' z.txt"
read_by_all "offsets past 4 GiB" stored.sfx
extracted_by_stub "offsets past 4 GiB" "$work/stored.sfx" big
rm -f stored.sfx

# -- a classic zip whose last entry lies just below 4 GiB, appended behind
# a stub of 3 MiB: that entry's offset and the directory's no longer fit in
# 32 bits. (7z opens no zip behind a prefix of more than a few MiB, with any
# writer: the prefix here stays below that.)
mkdir near && truncate -s $(((4 << 30) - (2 << 20))) near/almost-4G && echo "just below 4 GiB" >near/z.txt
check "pack a classic zip just below 4 GiB" bash -c "'$pack' --stub /bin/true -0 -o near.zip near && [ \"\$(python3 '$records' zip64 near.zip)\" = classic ]"
head -c $((3 << 20)) /dev/urandom >stub-3M
check "append it behind 3 MiB" "$pack" --stub stub-3M -o behind.sfx near.zip
check "the moved record gained a Zip64 offset, the archive Zip64 end records" bash -c "
  python3 '$records' zip64 behind.sfx >z.txt && [ \"\$(cat z.txt)\" = \"\$(printf 'end\\ncentral near/z.txt offset version 45')\" ]"
read_by_all "offsets moved past 4 GiB" behind.sfx
rm -f near.zip
# The same program appended again: its offset is in a Zip64 extra field now.
check "append a program whose offsets are Zip64" bash -c "mv behind.sfx behind.zip && '$pack' --stub /bin/true -o again.sfx behind.zip &&
  [ \"\$(python3 '$records' zip64 again.sfx)\" = \"\$(cat z.txt)\" ]"
read_by_all "offsets moved inside Zip64 extra fields" again.sfx
rm -f behind.zip again.sfx

# -- many entries: the count at its marker, and appended zips of 70,000
mkdir many
python3 -c "
import zipfile
for i in range(70000): open(f'many/{i:05}.txt', 'w').write(f'entry {i}\n')
with zipfile.ZipFile('many.zip', 'w') as z:
    for i in range(70000): z.writestr(f'm/{i:05}', b'%d' % i)"
check "pack 70,000 entries" "$pack" --stub /bin/true -o many.sfx many
if [ -x "$stub" ]; then
  check "the stub extracts 70,000 entries" bash -c "'$pack' -o many-real.sfx many && rm -rf x && mkdir x && cd x && ../many-real.sfx -q </dev/null && [ \$(ls many | wc -l) = 70000 ] && diff -r ../many many"
fi
# The count at its marker: 65,535 entries need the Zip64 end record too.
check "65,535 entries" bash -c "mkdir edge && cd many && ls | head -65534 | xargs cp -t ../edge && cd .. && '$pack' --stub /bin/true -o edge.sfx edge &&
  [ \"\$(python3 '$records' zip64 edge.sfx)\" = end ] && python3 -c \"
import zipfile; assert len(zipfile.ZipFile('edge.sfx').infolist()) == 65535\""
check "65,534 entries stay classic" bash -c "rm edge/00000.txt && '$pack' --stub /bin/true -o edge2.sfx edge && [ \"\$(python3 '$records' zip64 edge2.sfx)\" = classic ]"

check "append a zip of 70,000 entries" "$pack" --stub /bin/ls -o many-appended.sfx many.zip
check "its Zip64 end record and locator moved" bash -c "python3 '$records' zip64 many-appended.sfx | grep -qx end"
read_many "the appended 70,000 entries" many-appended.sfx 70000
check "append a program of 70,000 entries again" bash -c "cp many.sfx many-again.zip && '$pack' --stub /bin/ls -o many-again.sfx many-again.zip"
read_many "the program appended again" many-again.sfx 70001
if [ -x "$stub" ]; then
  check "the stub extracts 70,000 appended entries" bash -c "'$pack' -o many-appended-real.sfx many.zip && mkdir z && cd z && ../many-appended-real.sfx -q </dev/null && [ \$(ls m | wc -l) = 70000 ]"
fi
rm -rf many edge x z many*.sfx many*.zip

summary
