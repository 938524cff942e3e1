#!/usr/bin/env bash
# The resource editor (packer/pe_resources.h) on the built Windows stubs,
# judged by peer tools: a .ico made by icotool, written with
# tools/quillon-resources together with a version block and --admin, then
# read back by wrestool and icotool (the icon group and its images),
# Python's pefile (version strings and numbers, the manifest, the checksum,
# every other resource unchanged) and objdump (the section table and data
# directory); a program made from it with an appended zip is read by unzip;
# a signed stub is refused with its message.
#
# The programs: QUILLON_WIN32_STUB and QUILLON_WIN64_STUB (defaults in
# build/win32/bin and build/win64/bin); a stub or tool that is missing is
# skipped with a message.
set -uo pipefail
export LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "${QUILLON_SOURCE_DIR:-$here/../..}" && pwd)
binary_dir=${QUILLON_BINARY_DIR:-$source_dir/build/native}
tool="$binary_dir/bin/quillon-resources"
stub32=${QUILLON_WIN32_STUB:-$source_dir/build/win32/bin/quillon-sfx.exe}
stub64=${QUILLON_WIN64_STUB:-$source_dir/build/win64/bin/quillon-sfx.exe}
python=/usr/bin/python3

missing=""
[ -x "$tool" ] || missing+=" $tool"
for program in wrestool icotool convert x86_64-w64-mingw32-objdump zip unzip osslsigncode openssl "$python"; do
  command -v "$program" >/dev/null || missing+=" $program"
done
"$python" -c "import pefile" 2>/dev/null || missing+=" python3-pefile"
if [ -n "$missing" ]; then
  skip_all "the resource editor against peer tools; missing:$missing"
fi

cd "$work"

# An icon of four images: three bitmaps (icotool picks 4-bit colours for
# these few), one 256-pixel PNG kept as PNG.
for size in 16 32 48; do
  convert -size ${size}x${size} xc:'#3366cc' -fill '#ffcc00' \
    -draw "circle $((size / 2)),$((size / 2)) $((size / 2)),$((size / 4))" PNG32:icon$size.png
done
convert -size 256x256 xc:'#118844' PNG32:icon256.png
icotool -c -o maker.ico icon16.png icon32.png icon48.png --raw=icon256.png
version='ProductName=Photo Viewer;FileVersion=2.5;ProductVersion=2.5.0.17;CompanyName=Ünïcode & Sons;FileDescription=Photo Viewer Setup;LegalCopyright=© 2024 nobody;OriginalFilename=setup.exe;InternalName=setup'

for build in win32 win64; do
  stub=$stub32
  [ "$build" = win64 ] && stub=$stub64
  if [ ! -f "$stub" ]; then echo "SKIPPED: no $build stub at $stub"; continue; fi
  out="$build.exe"
  check "$build: the editor rewrites the stub" "$tool" --icon maker.ico --version-info "$version" --admin "$stub" "$out"

  # The icon group, as wrestool writes it back into an .ico, lists the same
  # images; each image is the one of the .ico, byte for byte.
  check "$build: wrestool finds one icon group" bash -c "[ \"\$(wrestool -l -t14 '$out' | wc -l)\" = 1 ]"
  check "$build: the group is still named ICON" bash -c "wrestool -l -t14 '$out' | grep -q -- \"--name='ICON'\""
  wrestool -x -t14 -o group.ico "$out"
  check "$build: icotool lists the .ico's images in the group" diff <(icotool -l maker.ico) <(icotool -l group.ico)
  check "$build: the group's images are the .ico's" bash -c "
    mkdir -p x-maker x-group/in && cp group.ico x-group/in/maker.ico &&
    icotool -x -o x-maker maker.ico && icotool -x -o x-group x-group/in/maker.ico && rm -r x-group/in &&
    [ \"\$(ls x-maker | wc -l)\" = 4 ] && diff -r x-maker x-group"
  rm -rf x-maker x-group

  check "$build: pefile reads what was written" "$python" - "$stub" "$out" <<'PY'
import sys, pefile
before, after = pefile.PE(sys.argv[1]), pefile.PE(sys.argv[2])
assert not after.get_warnings(), after.get_warnings()
assert after.verify_checksum(), "checksum %x, computed %x" % (after.OPTIONAL_HEADER.CheckSum, after.generate_checksum())

strings = {}
for info in after.FileInfo[0]:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            assert table.LangID == b"040904B0", table.LangID
            strings = {k.decode(): v.decode("utf-8") for k, v in table.entries.items()}
    if info.Key == b"VarFileInfo":
        assert info.Var[0].entry == {b"Translation": "0x0409 0x04b0"}, info.Var[0].entry
wanted = {"ProductName": "Photo Viewer", "FileVersion": "2.5", "ProductVersion": "2.5.0.17",
          "CompanyName": "Ünïcode & Sons", "FileDescription": "Photo Viewer Setup",
          "LegalCopyright": "© 2024 nobody", "OriginalFilename": "setup.exe", "InternalName": "setup"}
assert strings == wanted, strings
fixed = after.VS_FIXEDFILEINFO[0]
assert (fixed.FileVersionMS, fixed.FileVersionLS) == (0x00020005, 0), (hex(fixed.FileVersionMS), hex(fixed.FileVersionLS))
assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x00020005, 17)

def resources(pe):
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[(kind.id, str(name.name) if name.name else name.id, language.id)] = \
                    pe.get_data(data.OffsetToData, data.Size)
    return found
old, new = resources(before), resources(after)
for key, data in old.items():
    if key[0] not in (3, 14, 16, 24):
        assert new.get(key) == data, key
manifest = new[(24, 1, 1033)].decode()
assert manifest == old[(24, 1, 1033)].decode().replace('"asInvoker"', '"requireAdministrator"'), manifest
PY

  # The section table and the directory as objdump reads them: the
  # resources in .rsrc, the relocations in .reloc, the image ending where
  # the file does.
  x86_64-w64-mingw32-objdump -p "$out" >objdump.txt 2>objdump.err
  check "$build: objdump reads the program without complaint" bash -c "[ ! -s objdump.err ]"
  check "$build: the resource entry names .rsrc" grep -q "Resource Directory \[.rsrc\]" objdump.txt
  check "$build: the relocation entry names .reloc" grep -q "Base Relocation Directory \[.reloc\]" objdump.txt
  # (objdump -h gives the size in memory; the file's is that rounded up to
  # the stubs' FileAlignment, 512.)
  end=0
  while read -r _ _ size _ _ offset _; do
    end=$(((16#$offset + 16#$size + 511) / 512 * 512))
  done < <(x86_64-w64-mingw32-objdump -h "$out" | grep -E '^ *[0-9]+ ')
  check "$build: the last section ends the file" [ "$end" = "$(stat -c %s "$out")" ]

  # A program made from it: the zip appended, its offsets adjusted.
  mkdir -p payload && echo "hello" >payload/a.txt
  rm -f payload.zip && zip -qr payload.zip payload
  cat "$out" payload.zip >"program-$build.exe"
  zip -qA "program-$build.exe"
  check "$build: unzip tests the program made from the rewritten stub" unzip -tq "program-$build.exe"
done

# -- a signed stub is refused: its signature would not cover the new
#    resources
if [ -f "$stub64" ]; then
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout key.pem -out cert.pem \
    -days 2 -subj "/CN=Quillon test signer" >/dev/null 2>&1
  if osslsigncode sign -certs cert.pem -key key.pem -in "$stub64" -out signed.exe >/dev/null 2>&1; then
    "$tool" --admin signed.exe refused.exe >refused.log 2>&1
    code=$?
    if [ $code = 2 ] && [ ! -e refused.exe ] && grep -qxF "quillon-resources: quillon::pack::resource_editor exception: the program is signed, and its signature would not match the changed resources: sign it after packing." refused.log
    then pass; else fail "a signed stub is refused (exit $code)"; cat refused.log; fi
  else
    fail "osslsigncode signs the stub"
  fi
fi

summary
