# Sourced by wine-run.sh and wine-prefix.sh: the Wine settings of the
# Windows test programs. Their prefix lives in a scratch folder of its own
# below TMPDIR, beside the folder where Wine keeps its server's socket (Wine
# looks for it below TMPDIR, so every command of the prefix runs with the
# same TMPDIR); wine-prefix.sh makes the folder for each CTest run and
# removes it afterwards. Quiet, and Wine never offers to download Mono or
# Gecko.
QUILLON_WINE_SCRATCH="${TMPDIR:-/tmp}/quillon-wine"
export TMPDIR="$QUILLON_WINE_SCRATCH"
export WINEPREFIX="$QUILLON_WINE_SCRATCH/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
