# Sourced by the scripts that run Windows programs: makes the scratch Wine
# prefix once and keeps one wineserver running for the whole run, since every
# Wine start otherwise costs seconds.
export QUILLON_WINEPREFIX="${QUILLON_WINEPREFIX:-${TMPDIR:-/tmp}/quillon-wine}"
export WINEPREFIX="$QUILLON_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_session_start() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the Wine prefix $WINEPREFIX"
    /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
  # Start the prefix's background services here, detached from any pipe: a
  # service started by the first test would keep CTest's output pipe open
  # and CTest would wait for it forever.
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
}

wine_session_stop() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}
