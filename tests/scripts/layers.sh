#!/usr/bin/env bash
# Every include of the core points down its layers:
#   app -> image, zip -> flate, lzma -> stream -> io -> errors
# A folder may include itself and any folder below it, never one beside or
# above it (zip and image, the self-location, are beside each other, and so
# are the decoders flate and lzma). The programs around the core (packer,
# tools, tests, benchmarks, fuzzers) may include anything.
set -uo pipefail
root="${QUILLON_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
cd "$root"

rank() {
  case "$1" in
    errors) echo 0 ;; io) echo 1 ;; stream) echo 2 ;; flate | lzma) echo 3 ;;
    zip | image) echo 4 ;; app) echo 5 ;; *) echo "" ;;
  esac
}

failed=0
checked=0
for layer in errors io stream flate lzma zip image app; do
  mine=$(rank "$layer")
  while IFS=: read -r file _ included; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$included")
    theirs=$(rank "$target")
    [ -n "$theirs" ] || continue
    checked=$((checked + 1))
    if [ "$target" != "$layer" ] && [ "$theirs" -ge "$mine" ]; then
      echo "FAILED: $file includes $target/, which is not below $layer/"
      failed=$((failed + 1))
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' '^#include "' "$layer")
done

echo "layers: $checked includes checked, $failed pointing up or sideways"
[ "$failed" -eq 0 ]
