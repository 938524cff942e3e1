#!/bin/sh
# wine-prefix.sh make|remove: the Wine prefix of the Windows test programs,
# made from nothing before the first test of every CTest run and removed
# after the last (the wine-prefix fixture), so that no run depends on what
# an earlier one left. One wineserver is kept for the whole run, since every
# Wine start otherwise costs seconds.
. "$(dirname "$0")/wine-env.sh"

stop_server() {
  /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1
  /usr/lib/wine/wineserver -w </dev/null >/dev/null 2>&1
}

case "$1" in
  make)
    # A folder left by a run that was stopped before its removal: its
    # server first, then the folder.
    [ -d "$WINEPREFIX" ] && stop_server
    rm -rf "$QUILLON_WINE_SCRATCH"
    mkdir -p "$WINEPREFIX"
    echo "making the Wine prefix $WINEPREFIX"
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || { echo "wineserver did not start"; exit 1; }
    # wineboot starts the prefix's services here, detached from every pipe:
    # a service started by the first test would keep CTest's output pipe
    # open and CTest would wait for it forever.
    if ! /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1; then
      echo "wineboot could not make the Wine prefix $WINEPREFIX"
      stop_server
      exit 1
    fi
    ;;
  remove)
    [ -d "$WINEPREFIX" ] && stop_server
    rm -rf "$QUILLON_WINE_SCRATCH"
    ;;
  *)
    echo "usage: wine-prefix.sh make|remove" >&2
    exit 2
    ;;
esac
