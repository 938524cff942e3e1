#!/usr/bin/env bash
# Peak memory of listing (-l) and testing (-t) archives whose directory is
# large, beside 7z, bsdtar and unzip on the same files in one run: 200
# folder entries named with 32,767 components each, and a million empty
# files. The stub keeps per entry only what it needs for the checks of the
# whole archive, never the names.
#
#   bench/directory-memory.sh [BUILD_DIR]    (default build/native)
set -euo pipefail
build=$(cd "${1:-build/native}" && pwd)
stub="$build/bin/quillon-sfx"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

python3 - <<'PY'
import struct, zlib
def archive(path, names):
    with open(path, "wb") as out:
        central = []
        offset = 0
        for name in names:
            n = name.encode()
            fields = struct.pack("<HHHHHIIIHH", 20, 0, 0, 0, 0x21, 0, 0, 0, len(n), 0)
            out.write(b"PK\x03\x04" + fields + n)
            central.append(b"PK\x01\x02" + struct.pack("<H", 0x031E) + fields + struct.pack("<HHHII", 0, 0, 0, 0, offset) + n)
            offset += 30 + len(n)
        size = 0
        for record in central:
            out.write(record)
            size += len(record)
        count = len(central)
        if count > 0xFFFF:
            out.write(b"PK\x06\x06" + struct.pack("<QHHIIQQQQ", 44, 45, 45, 0, 0, count, count, size, offset))
            out.write(b"PK\x06\x07" + struct.pack("<IQI", 0, offset + size, 1))
            out.write(b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))
        else:
            out.write(b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, count, count, size, offset, 0))
archive("deep.zip", ["a/" * 32767 for i in range(200)])
archive("many.zip", ["d%03d/f%06d" % (i // 10000, i) for i in range(1000000)])
PY

peak() {  # peak COMMAND...: the peak resident size in MiB
  /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1 || true
  echo "$(($(tail -1 "$work/rss") / 1024))"
}

printf '%-9s %9s  %8s %8s %8s %8s %8s\n' archive size "-l" "-t" "7z l" "bsdtar" "unzip -l"
for zip in deep.zip many.zip; do
  cat "$stub" "$zip" >prog && chmod +x prog
  directory=$(python3 -c "import struct,sys;d=open('$zip','rb').read();print(len(d)//2**20)")
  printf '%-9s %6s MiB  %8s %8s %8s %8s %8s\n' "$zip" "$directory" "$(peak ./prog -l)" "$(peak ./prog -t)" \
    "$(peak 7z l "$zip")" "$(peak bsdtar -tf "$zip")" "$(peak unzip -l "$zip")"
done
echo "(peak resident MiB)"
