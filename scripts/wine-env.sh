# Sourced: a headless wine of its own in build-win/wine, with no time zone name it would misread,
# its server started before anything runs so that no test's pipes are held by it, and stopped
# when the sourcing script ends.
unset TZ DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$PWD/build-win/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 || true
wineboot -i </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
