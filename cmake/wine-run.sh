#!/bin/sh
# Runs a Windows program under wine64 in the tests' scratch prefix (see
# wine-env.sh); CTest's emulator for the Windows builds. Run by hand
# before wine-prefix.sh made the folder, Wine makes the prefix itself.
. "$(dirname "$0")/wine-env.sh"
mkdir -p "$QUILLON_WINE_SCRATCH"
exec /usr/lib/wine/wine64 "$@"
