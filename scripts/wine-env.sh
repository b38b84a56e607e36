# Sourced: a headless wine of its own in build-win/wine, with no time zone name it would misread,
# its server started before anything runs so that no test's pipes are held by it. The sourcing
# script stops it with wine_env_stop, in its own EXIT trap.
unset TZ DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$PWD/build-win/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine_env_stop() { wineserver -k >/dev/null 2>&1 || true; }
wineserver -p </dev/null >/dev/null 2>&1 || true
wineboot -i </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
