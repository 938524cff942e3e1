#!/usr/bin/env bash
# Installs what the builds, tests and benchmarks need on Debian 12. Fast and
# quiet when everything is already there.
set -euo pipefail

packages=(
  cmake make g++ clang lld llvm libclang-rt-14-dev clang-format
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine64 xvfb xdotool imagemagick x11-utils
  googletest libbenchmark-dev zlib1g-dev libdeflate-dev libzstd-dev zstd liblzma-dev
  zip unzip p7zip-full libarchive-tools python3 file
  osslsigncode openssl libssl-dev icoutils python3-pefile
  g++-aarch64-linux-gnu qemu-user
  dpkg-dev man-db groff-base
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
