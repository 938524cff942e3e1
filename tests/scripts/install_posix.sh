#!/usr/bin/env bash
# What users install: `cmake --install` of this build into a scratch prefix
# and the Debian package that `cpack -G DEB` makes of it, unpacked into a
# scratch root. Each installed quillon-pack, run from elsewhere, finds the
# stubs installed beside it (lib/quillon/TARGET), makes a program that
# extracts, and says its version; --stub still wins; the man pages render
# without warnings.
set -uo pipefail
export TZ=UTC LC_ALL=C.UTF-8
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${QUILLON_BINARY_DIR:-$here/../../build/native}" && pwd)
[ -x "$build/bin/quillon-pack" ] || { echo "no packer in $build/bin"; exit 1; }
cd "$work"

mkdir -p payload/docs elsewhere
cp /usr/share/common-licenses/GPL-3 payload/docs/
echo hello >payload/hello.txt

# installed NAME PREFIX: the packer below PREFIX, run from another folder,
# with the stubs below PREFIX only.
installed() {
  local name=$1 prefix=$2 pack="$2/bin/quillon-pack"
  check "$name: bin/quillon-pack" [ -x "$pack" ]
  check "$name: lib/quillon/linux-x86_64/quillon-sfx" [ -x "$prefix/lib/quillon/linux-x86_64/quillon-sfx" ]
  check "$name: the man pages" test -f "$prefix/share/man/man1/quillon-pack.1" -a -f "$prefix/share/man/man1/quillon-sfx.1"
  check "$name: --version" grep -qE '^quillon-pack [0-9]+\.[0-9]+\.[0-9]+' <("$pack" --version)
  (cd elsewhere && "$pack" -o "$work/$name.run" "$work/payload" 2>"$work/err")
  check "$name: packs with the installed stub" cmp -n "$(stat -c %s "$prefix/lib/quillon/linux-x86_64/quillon-sfx")" \
    "$prefix/lib/quillon/linux-x86_64/quillon-sfx" "$name.run"
  rm -rf "x-$name"
  check "$name: the program extracts" "./$name.run" -q -d "x-$name" 2>err
  check "$name: the same files" diff -r payload "x-$name/payload"
  # The other platforms' stubs are installed when their builds were made.
  local target file
  for target in windows:quillon-sfx.exe linux-aarch64:quillon-sfx; do
    file=${target#*:} target=${target%%:*}
    if [ -f "$prefix/lib/quillon/$target/$file" ]; then
      (cd elsewhere && "$pack" --target "$target" -o "$work/$name-$target" "$work/payload" 2>"$work/err")
      check "$name: packs for $target" cmp -n "$(stat -c %s "$prefix/lib/quillon/$target/$file")" \
        "$prefix/lib/quillon/$target/$file" "$name-$target"
    else
      "$pack" --target "$target" -o "$name-$target" payload 2>err
      check "$name: without the $target stub, the message names where it is looked for" \
        grep -qF "$prefix/bin/../lib/quillon/$target/$file" err
    fi
  done
  # --stub wins over the installed stubs.
  printf 'not a stub' >stub.bin
  "$pack" --stub stub.bin -o "$name-stub.run" payload 2>err
  check "$name: --stub wins" [ "$(head -c 10 "$name-stub.run")" = "not a stub" ]
}

cmake --install "$build" --prefix "$work/prefix" >install.log 2>&1 || { fail "cmake --install"; tail -5 install.log; }
installed install "$work/prefix"

# The man pages: roff that renders without a warning, and that man reads.
for page in quillon-pack quillon-sfx; do
  groff -man -Tutf8 -ww -z "$work/prefix/share/man/man1/$page.1" 2>err
  check "$page(1) renders without warnings" [ ! -s err ]
  if command -v man >/dev/null; then
    check "man -l reads $page(1)" grep -q "^NAME" <(MANWIDTH=80 man -l "$work/prefix/share/man/man1/$page.1" 2>err)
  fi
done

# The Debian package: made into a scratch folder, unpacked into a scratch
# root (a real install is dpkg -i), its control fields read.
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >cpack.log 2>&1 || { fail "cpack -G DEB"; tail -5 cpack.log; }
  deb=$(ls package/*.deb 2>/dev/null | head -1)
  if [ -n "$deb" ]; then
    check "the package is named quillon" [ "$(dpkg-deb -f "$deb" Package)" = quillon ]
    check "the package's version is the packer's" grep -qF "quillon-pack $(dpkg-deb -f "$deb" Version)" <("$build/bin/quillon-pack" --version)
    check "the package depends on the packer's libraries" grep -q libdeflate <(dpkg-deb -f "$deb" Depends)
    dpkg-deb -x "$deb" root
    installed package "$work/root/usr"
  fi
else
  echo "no cpack or dpkg-deb: the package is not checked"
fi

summary
