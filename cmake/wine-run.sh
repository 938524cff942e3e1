#!/bin/sh
# Runs a Windows program under wine64 with a scratch prefix, quietly, and
# without Wine offering to download Mono or Gecko.
export WINEPREFIX="${QUILLON_WINEPREFIX:-${TMPDIR:-/tmp}/quillon-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
