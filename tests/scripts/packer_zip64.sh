#!/usr/bin/env bash
# quillon-pack and Zip64, the parts that need no large files: more than
# 65,535 entries (packed and appended), Zip64 zips written by Python
# appended, and small archives that stay classic. The stub, unzip, 7z,
# bsdtar and Python's zipfile read every output. Files of 4 GiB and more,
# and offsets past 4 GiB, are in packer_heavy.sh.
set -uo pipefail
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

bin=$(cd "${QUILLON_BINARY_DIR:-build/native}/bin" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-.}" && pwd)
pack="$bin/quillon-pack"
stub="$bin/quillon-sfx"
records="$source_dir/tests/scripts/zip_records.py"
# shellcheck source=../support/peer_readers.sh
. "$source_dir/tests/support/peer_readers.sh"

cd "$work"
mkdir many
python3 -c "
for i in range(70000): open(f'many/{i:05}.txt', 'w').write(f'entry {i}\n')"

# -- 70,000 entries: the Zip64 end record, and nothing else of Zip64
check "pack 70,000 entries" "$pack" --stub /bin/true -o many.sfx many
check "only the end records are Zip64" bash -c "[ \"\$(python3 '$records' zip64 many.sfx)\" = end ]"
check "the end record holds the markers for the counts" python3 -c "
import struct
data = open('many.sfx', 'rb').read(); end = data.rfind(b'PK\x05\x06')
assert struct.unpack_from('<HH', data, end + 8) == (0xFFFF, 0xFFFF)
assert data[end - 20:end - 16] == b'PK\x06\x07'"
read_many "70,000 entries" many.sfx 70001
# -- small archives stay classic
mkdir -p small/sub && echo one >small/sub/a.txt && head -c 100000 /dev/urandom >small/b.bin
check "a small archive has no Zip64 record" bash -c "'$pack' --stub /bin/true -o small.sfx small && [ \"\$(python3 '$records' zip64 small.sfx)\" = classic ] && ! grep -q 'PK\x06\x06' small.sfx"
check "version 2.0 needed in every record of a small archive" python3 -c "
import zipfile; assert {i.extract_version for i in zipfile.ZipFile('small.sfx').infolist()} == {20}"

# -- Zip64 zips appended
python3 -c "
import zipfile
with zipfile.ZipFile('forced.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(5):
        with z.open(f'f{i}.txt', 'w', force_zip64=True) as f: f.write(b'forced Zip64 %d\n' % i * 100)"
check "append a zip of Zip64 extra fields" "$pack" --stub /bin/true -o forced.sfx forced.zip
read_many "the appended Zip64 extra fields" forced.sfx 5
if [ -x "$stub" ]; then
  check "the stub extracts an appended Zip64 zip" bash -c "'$pack' -o forced-real.sfx forced.zip && mkdir y && cd y && ../forced-real.sfx -q </dev/null && [ \$(cat f*.txt | wc -l) = 500 ]"
fi

summary
