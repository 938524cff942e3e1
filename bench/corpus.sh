#!/usr/bin/env bash
# Builds the benchmark corpus in BENCH_DIR/corpus once (BENCH_DIR/corpus.done
# marks it complete): real files of this machine, a few thousand small ones
# (documentation, headers, scripts, libraries, up to about 190 MiB) with
# their folders, and one large file of 120 MiB made of real shared
# libraries. bench/extract-vs-peers.sh and bench/pack-vs-peers.sh share it.
#
#   bench/corpus.sh BENCH_DIR
set -euo pipefail
bench=$1
corpus="$bench/corpus"
[ -f "$bench/corpus.done" ] && exit 0
echo "building the corpus in $corpus" >&2
rm -rf "$corpus" && mkdir -p "$corpus/small" "$corpus/large"
python3 - "$corpus" <<'PY'
import os, shutil, sys
corpus = sys.argv[1]
roots = ["/usr/share/doc", "/usr/include", "/usr/share/perl5", "/usr/lib/python3", "/usr/lib/x86_64-linux-gnu"]
small, limit = 0, 190 << 20
for root in roots:
    for folder, dirs, files in sorted(os.walk(root)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            size = os.path.getsize(path)
            if size > 2 << 20 or small + size > limit:
                continue
            target = os.path.join(corpus, "small", path.lstrip("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            try:
                shutil.copy2(path, target)
            except OSError:
                continue
            small += size
large, left = open(os.path.join(corpus, "large", "libraries.bin"), "wb"), 120 << 20
for folder, dirs, files in sorted(os.walk("/usr/lib")):
    dirs.sort()
    for name in sorted(files):
        path = os.path.join(folder, name)
        if left > 0 and ".so" in name and not os.path.islink(path) and os.path.getsize(path) > 1 << 20:
            with open(path, "rb") as f:
                chunk = f.read(left)
            large.write(chunk)
            left -= len(chunk)
PY
touch "$bench/corpus.done"
