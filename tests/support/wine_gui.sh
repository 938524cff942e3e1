# Sourced by the tests that drive the Windows stub's windows under Wine
# (tests/scripts/*_wine.sh): a scratch folder $work, a Wine prefix made from
# nothing in it, an X display of its own, all removed when the test exits.
# Needs $wine (the wine64 program) and tests/support/harness.sh sourced.
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A display of its own, whose number the server picks and reports itself:
# another test starting a server at the same moment cannot take the same.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
at_exit '/usr/lib/wine/wineserver -k >/dev/null 2>&1; kill "$xvfb" 2>/dev/null; wait 2>/dev/null'
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
# Wine draws the captions itself (no window manager runs under Xvfb).
"$wine" wineboot -i </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
"$wine" wineboot </dev/null >/dev/null 2>&1
