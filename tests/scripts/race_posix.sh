#!/usr/bin/env bash
# A local user who can write in the destination exchanges a folder the stub
# is filling for a link to another folder, once the first files are in it.
# The stub creates every file by name in its open parent folder and opens
# each folder without following a link, so none of the remaining files may
# land in the other folder, whatever the stub then reports. Three tries.
set -uo pipefail
. "$(cd "$(dirname "$0")" && pwd)/../support/harness.sh"
bin=$(cd "${QUILLON_BINARY_DIR:-build/native}/bin" && pwd)
stub="$bin/quillon-sfx"
[ -x "$stub" ] || { echo "no stub at $stub"; exit 1; }
cd "$work"

python3 - <<'PY'
import zipfile
with zipfile.ZipFile("many.zip", "w", zipfile.ZIP_STORED) as archive:
    archive.writestr("sub/", b"")
    for i in range(5000):
        archive.writestr("sub/deeper/f%04d.txt" % i, b"x" * 64)
PY
cat "$stub" many.zip >many.run && chmod +x many.run

for try in 1 2 3; do
  rm -rf dest outside && mkdir dest outside
  ./many.run -q -o -d "$work/dest" >/dev/null 2>"$work/err" &
  stub_pid=$!
  # The swap: as soon as some files exist, the folder moves aside and a
  # link to the outside folder takes its name.
  python3 - "$work" <<'PY'
import os, sys, time
work = sys.argv[1]
sub = os.path.join(work, "dest/sub")
deadline = time.time() + 20
while time.time() < deadline:
    if os.path.exists(os.path.join(sub, "deeper/f0100.txt")):
        os.rename(sub, sub + ".moved")
        os.symlink(os.path.join(work, "outside"), sub)
        os.makedirs(os.path.join(work, "outside/deeper"), exist_ok=True)
        break
    time.sleep(0.0005)
PY
  wait "$stub_pid"
  landed=$(find outside -type f | wc -l)
  if [ "$landed" = 0 ]; then pass; else fail "try $try: $landed files written through the swapped link"; fi
  # What the stub wrote stayed inside the destination.
  inside=$(find dest -type f | wc -l)
  echo "try $try: $inside files inside, $landed outside; $(head -c 200 "$work/err")"
done

summary
