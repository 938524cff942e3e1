#!/usr/bin/env bash
# Every archive of real tools that the repository keeps (the fuzzers' seeds
# made by Info-ZIP zip, 7z, bsdtar, Python's zipfile and the packer),
# appended to the POSIX stub and extracted with -q: the tree must be the one
# bsdtar makes of the same archive (unzip where bsdtar fails: it checks the
# CRC of an encrypted entry with a data descriptor too early), file for
# file, mode and link for link (the modes of files and links: the stub
# makes folders under the user's umask, the peers do not).
# The hand-damaged seeds (fuzzed_*) must end in a clear error and leave
# nothing. stub_relative.zip counts its offsets from a prefix of its own,
# which no reader can tell from the stub (7z refuses it too): it is left
# out.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

source_dir=$(cd "${QUILLON_SOURCE_DIR:-$(dirname "$0")/../..}" && pwd)
bin=$(cd "${QUILLON_BINARY_DIR:-$source_dir/build/native}/bin" && pwd)
stub="$bin/quillon-sfx"
seeds="$source_dir/fuzz/corpus/catalogue"
[ -x "$stub" ] || skip_all "no stub at $stub"
missing=$(missing_tools bsdtar unzip)
[ -z "$missing" ] || skip_all "the seeds against bsdtar; missing:$missing"

cd "$work"
echo secret >passphrase
for seed in "$seeds"/*.zip; do
  name=$(basename "$seed" .zip)
  [ "$name" = stub_relative ] && continue
  cat "$stub" "$seed" >"$name.run" && chmod +x "$name.run"
  mkdir "ours-$name"
  (cd "ours-$name" && "../$name.run" -q -p ../passphrase >/dev/null 2>../err)
  code=$?
  if [[ $name == fuzzed_* ]]; then
    if [ "$code" = 2 ] && [ -s err ] && [ -z "$(ls -A "ours-$name")" ]; then pass; else
      fail "$name: exit $code, wanted 2 with a message and nothing written"; fi
    continue
  fi
  mkdir "theirs-$name"
  if ! (cd "theirs-$name" && bsdtar -xf "$seed" --passphrase secret 2>/dev/null); then
    rm -rf "theirs-$name" && mkdir "theirs-$name"
    (cd "theirs-$name" && unzip -q -P secret "$seed")
  fi
  if [ "$code" != 0 ]; then fail "$name: exit $code: $(cat err)"; continue; fi
  # Same names, contents, link targets and modes.
  if diff -r --no-dereference "ours-$name" "theirs-$name" >diff.log 2>&1 &&
    [ "$(cd "ours-$name" && find . ! -type d -printf '%p %m %l\n' | sort)" = \
      "$(cd "theirs-$name" && find . ! -type d -printf '%p %m %l\n' | sort)" ]; then pass; else
    fail "$name: not what bsdtar makes"
    head -5 diff.log
  fi
done
summary
