#!/usr/bin/env bash
# Deflate64 against Deflate through the same stub in one run: the same
# 64 MiB of real files of this machine (libraries and text), zipped by 7z
# with each method at the same level, then tested (-t: decoded and checked,
# nothing written) three times each; the best time counts. 7z's own test
# of the same archives is shown beside.
#
#   bench/deflate64.sh [BUILD_DIR]    (default build/native)
set -euo pipefail
build=$(cd "${1:-build/native}" && pwd)
stub="$build/bin/quillon-sfx"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir corpus
python3 - <<'PY'
import os
out, limit = open("corpus/data.bin", "wb"), 64 << 20
for root in ("/usr/lib/x86_64-linux-gnu", "/usr/share/doc"):
    for folder, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if out.tell() >= limit or os.path.islink(path) or not os.path.isfile(path):
                continue
            out.write(open(path, "rb").read()[:limit - out.tell()])
PY
best() {  # best COMMAND...: the shortest of three wall times, in seconds
  local t best=
  for _ in 1 2 3; do
    /usr/bin/time -f '%e' -o "$work/time" "$@" >/dev/null 2>&1
    t=$(tail -1 "$work/time")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}
printf '%-10s %10s %10s %10s\n' method "size" "stub -t" "7z t"
for method in Deflate Deflate64; do
  7z a -tzip -mm=$method -mx=5 -bso0 $method.zip corpus >/dev/null
  cat "$stub" $method.zip >$method.run && chmod +x $method.run
  printf '%-10s %10s %9ss %9ss\n' $method "$(stat -c %s $method.zip)" "$(best ./$method.run -t)" "$(best 7z t $method.zip)"
done
