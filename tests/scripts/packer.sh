#!/usr/bin/env bash
# quillon-pack from the outside: what it makes is read by unzip, 7z, bsdtar
# and the POSIX stub; --list and --test; and every refusal leaves no output.
# Unix metadata, links, the walk, changing inputs, signals and threads are
# in packer_inputs.sh; Zip64 in packer_zip64.sh and packer_heavy.sh.
set -uo pipefail
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

bin=$(cd "${QUILLON_BINARY_DIR:-build/native}/bin" && pwd)
pack="$bin/quillon-pack"
stub="$bin/quillon-sfx"


refuses() {  # refuses NAME EXPECTED-TEXT COMMAND...: exit 2, one message, no output file
  local name=$1 expected=$2; shift 2
  rm -f "$work/refused.sfx"
  "$@" >"$work/last.log" 2>&1
  local code=$?
  if [ $code -eq 2 ] && grep -qF -- "$expected" "$work/last.log" && [ ! -e "$work/refused.sfx" ] &&
     [ -z "$(ls "$work" | grep -F 'refused.sfx.partial')" ]; then passed=$((passed + 1)); else
    echo "FAILED: $name (exit $code, wanted 2 and \"$expected\")"; sed 's/^/    /' "$work/last.log"
    failures=$((failures + 1)); fi
}

same_tree() { diff -r "$1" "$2"; }

# A tree of real files: text, binaries, an empty folder, non-ASCII names.
src="$work/tree"
mkdir -p "$src/docs/empty" "$src/bin" "$src/καλημέρα"
cp /usr/share/common-licenses/GPL-3 /usr/share/common-licenses/Apache-2.0 "$src/docs/"
cp /bin/ls "$src/bin/"
head -c 300000 /dev/urandom >"$src/bin/random.bin"
: >"$src/docs/empty.txt"
echo "crème brûlée" >"$src/καλημέρα/café.txt"
touch -d '2021-06-15 10:20:30' "$src/docs/GPL-3"

cd "$work"

# -- new archives: read by the peer tools, same content back
check "pack a folder" "$pack" --stub /bin/true -o plain.sfx tree
check "unzip tests the packed program" unzip -tq plain.sfx
check "7z tests the packed program" 7z t plain.sfx
check "bsdtar lists the packed program" bsdtar -tf plain.sfx
check "unzip extracts the same tree" bash -c "mkdir u && cd u && unzip -q ../plain.sfx && diff -r ../tree tree"
check "modification time kept" bash -c "[ \"\$(stat -c %Y u/tree/docs/GPL-3)\" = \"\$(stat -c %Y tree/docs/GPL-3)\" ]"
check "empty folder is an entry" bash -c "unzip -l plain.sfx | grep -q 'tree/docs/empty/$'"
check "non-ASCII names are UTF-8 with the flag" bash -c "python3 -c \"
import zipfile; z = zipfile.ZipFile('plain.sfx')
i = z.getinfo('tree/καλημέρα/café.txt'); assert i.flag_bits & 0x800, i.flag_bits\""
check "incompressible data is stored" bash -c "python3 -c \"
import zipfile; z = zipfile.ZipFile('plain.sfx')
assert z.getinfo('tree/bin/random.bin').compress_type == 0
assert z.getinfo('tree/docs/GPL-3').compress_type == 8\""
check "the output is executable" test -x plain.sfx
check "level 0 stores everything" bash -c "'$pack' --stub /bin/true -0 -o stored.sfx tree && python3 -c \"
import zipfile; assert all(i.compress_type == 0 for i in zipfile.ZipFile('stored.sfx').infolist())\""
check "level 12 makes a smaller archive than level 1" bash -c "'$pack' --stub /bin/true -1 -o l1.sfx tree &&
  '$pack' --stub /bin/true -12 -o l12.sfx tree && [ \$(stat -c %s l12.sfx) -lt \$(stat -c %s l1.sfx) ]"

# -- appended zips keep working for the peer tools
(cd tree && zip -qr ../infozip.zip . && python3 -c "
import zipfile, os
with zipfile.ZipFile('../python.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for root, dirs, files in os.walk('.'):
        for f in files: z.write(os.path.join(root, f))")
for zip in infozip python; do
  check "append $zip zip" "$pack" --stub /bin/ls -o "$zip.sfx" "$zip.zip"
  check "unzip -l reads the appended $zip zip" unzip -l "$zip.sfx"
  check "unzip -t accepts the appended $zip zip without offset warnings" bash -c "unzip -t $zip.sfx 2>&1 | grep -v -q 'bytes in the beginning' && unzip -tq $zip.sfx"
done

# -- an installer keeps its folder's name unless it has a destination
check "an installer without --destination keeps the folder" bash -c "'$pack' --stub /bin/true --title T -o titled.sfx tree &&
  ! unzip -Z1 titled.sfx | grep -qv '^tree/'"
check "an installer with --destination holds what is in the folder" bash -c "'$pack' --stub /bin/true --destination d -o dest.sfx tree &&
  ! unzip -Z1 dest.sfx | grep -q '^tree/' && unzip -Z1 dest.sfx | grep -qx 'docs/GPL-3'"
check "--help says where the folder goes" bash -c "'$pack' --help | grep -q \"keeps the folder's\""

# -- encryption
echo "open sesame" >pw
check "encrypt with the traditional cipher" "$pack" --stub /bin/true --zipcrypto --passphrase-file pw -o secret.sfx tree
check "unzip -P decrypts" bash -c "mkdir s && cd s && unzip -q -P 'open sesame' ../secret.sfx && diff -r ../tree tree"
check "a wrong passphrase fails in unzip" bash -c "! unzip -tq -P nope secret.sfx"
check "help says which tools read which cipher" bash -c "'$pack' --help | grep -q 'unzip 6.0 and Windows Explorer' && '$pack' --help | grep -q 'determined attacker'"

# -- the stub itself, where it is built
if [ -x "$stub" ]; then
  check "pack with the default stub" "$pack" -o real.sfx tree
  check "the stub extracts what the packer made" bash -c "mkdir x && cd x && ../real.sfx -q && diff -r ../tree tree"
  # A short text without repeats: libdeflate writes a block whose distance
  # code has no lengths at all, which the stub must read.
  mkdir -p short && printf "Un nom de fichier qui n'est pas en ASCII : r\xc3\xa9sum\xc3\xa9.txt, dans le dossier donn\xc3\xa9es.\n" >short/r.txt
  check "the stub reads blocks of literals only" bash -c "'$pack' -o short.sfx short && mkdir sx1 && cd sx1 && ../short.sfx -q && diff -r ../short short"
  check "the stub extracts an appended Info-ZIP zip" bash -c "'$pack' -o zipped.sfx infozip.zip && mkdir y && cd y && ../zipped.sfx -q && diff -r ../tree ."
  check "the stub decrypts with the piped passphrase" bash -c "'$pack' --passphrase-file pw -o real-secret.sfx tree &&
    mkdir z && cd z && ../real-secret.sfx <<< \$'\nopen sesame' 2>/dev/null && diff -r ../tree tree"
  # An entry whose record is exactly as long as the stub: counted from where
  # the archive begins, its (absolute) offset lands on the next entry's
  # header, which must not be taken for its own.
  stub_size=$(stat -c %s "$stub")
  mkdir -p shift/t && head -c $((stub_size - 30 - 3)) /dev/urandom >shift/t/a && echo second >shift/t/b
  check "offsets counted from the start are not taken as relative" bash -c "cd shift && '$pack' -0 -o ../shift.sfx t &&
    mkdir ../sx && cd ../sx && ../shift.sfx -q </dev/null && diff -r ../shift/t t"
  check "--test reads the same program" "$pack" --test shift.sfx
  check "--test passes a good program" "$pack" --test real.sfx
  check "--list names every entry" bash -c "'$pack' --list real.sfx | grep -q 'tree/καλημέρα/café.txt'"
  check "--test passes an encrypted program given the passphrase" bash -c "'$pack' --test real-secret.sfx --passphrase-file pw"
  # Damage one byte in the middle of the deflated GPL text.
  cp real.sfx damaged.sfx
  offset=$(python3 -c "
import zipfile; z = zipfile.ZipFile('damaged.sfx'); i = z.getinfo('tree/docs/GPL-3')
print(i.header_offset + 30 + len(i.filename.encode()) + i.compress_size // 2)")
  printf '\xff' | dd of=damaged.sfx bs=1 seek="$offset" conv=notrunc status=none
  check "--test fails a damaged program with exit 2" bash -c "'$pack' --test damaged.sfx; [ \$? -eq 2 ]"
  # What the stub would refuse, --test reports: names that leave the
  # destination and methods it cannot decode; --list still shows them.
  python3 -c "
import zipfile
with zipfile.ZipFile('odd.zip', 'w') as z:
    z.writestr('../up.txt', b'x' * 100)
    z.writestr('b.txt', b'bzip2 ' * 100, compress_type=zipfile.ZIP_BZIP2)"
  check "--list shows entries the stub would refuse" bash -c "'$pack' --list odd.zip | grep -q 'method 12  .*b.txt'"
  check "--test reports what the stub would refuse, with exit 2" bash -c "'$pack' --test odd.zip >odd.txt;
    [ \$? -eq 2 ] && grep -q '^UNSAFE NAME: ../up.txt' odd.txt && grep -q '^UNSUPPORTED (method 12): b.txt' odd.txt"
  # Hazard: a folder entry is checked like a file: the stub refuses it.
  python3 -c "
import zipfile
with zipfile.ZipFile('updir.zip', 'w') as z:
    z.writestr('../x/', b'')
    z.writestr('ok.txt', b'fine')"
  check "--test reports a folder name that leaves the destination" bash -c "'$pack' --test updir.zip >updir.txt;
    [ \$? -eq 2 ] && grep -q '^UNSAFE NAME: ../x' updir.txt"
  # Hazard: a zip behind 100 bytes of its own whose directory counts from
  # the zip's start but one of whose records counts from the file's start
  # (the reader finds that header the other way); moved by the same amount
  # as the others, it pointed nowhere in the packed program.
  python3 -c "
import io, struct, zipfile
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, 'w') as z:
    z.writestr('a.txt', b'first')
    z.writestr('b.txt', b'second')
data = bytearray(buffer.getvalue())
central = data.rfind(b'PK\\x01\\x02')  # the record of b.txt
offset = struct.unpack_from('<I', data, central + 42)[0]
struct.pack_into('<I', data, central + 42, offset + 100)
open('mixed.zip', 'wb').write(b'J' * 100 + bytes(data))"
  check "a zip whose records count two ways is appended so that both are found" bash -c "
    '$pack' --stub '$stub' -o mixed.sfx mixed.zip && '$pack' --test mixed.sfx >mixed.txt &&
    rm -rf mx && mkdir mx && cd mx && ../mixed.sfx -q </dev/null && [ \"\$(cat b.txt)\" = second ]"
  # Hazard: an empty end record behind a Zip64 locator that points at no
  # record. Read from the end record on, the zip was empty and was packed;
  # the packed program, read from its start, saw the locator and failed.
  python3 -c "
import struct
locator = b'PK\x06\x07' + struct.pack('<IQI', 0, 12345, 1)
open('lost64.zip', 'wb').write(b'J' * 100 + locator + b'PK\x05\x06' + bytes(18))"
  refuses "a zip whose Zip64 locator points at no record" "cannot locate the Zip64 end record" \
    "$pack" --stub "$stub" -o "$work/refused.sfx" lost64.zip
else
  echo "note: $stub is not built; the stub round trips were skipped"
fi

# -- refusals: one message, exit 2, nothing left behind
refuses "missing input" "cannot find" "$pack" --stub /bin/true -o "$work/refused.sfx" no-such-folder
refuses "a .zip that is not one" "is not a Zip archive" bash -c "echo text > fake.zip; '$pack' --stub /bin/true -o '$work/refused.sfx' fake.zip"
refuses "missing stub" "cannot open" "$pack" --stub /no/such/stub -o "$work/refused.sfx" tree
refuses "no output named" "name the output" "$pack" --stub /bin/true tree
refuses "unknown option" "unknown option" "$pack" --frobnicate -o "$work/refused.sfx" tree
refuses "level out of range" "levels go from" "$pack" -13 -o "$work/refused.sfx" tree
if [ "$(id -u)" != 0 ]; then
  refuses "unreadable folder" "cannot read the folder" bash -c "mkdir -p locked/inner && chmod 000 locked/inner && '$pack' --stub /bin/true -o '$work/refused.sfx' locked"
fi
echo keep >kept.sfx
refuses "a failed pack over an existing output" "cannot find" "$pack" --stub /bin/true -o kept.sfx nothing-here
check "a failed pack keeps the existing output" grep -q keep kept.sfx

summary
