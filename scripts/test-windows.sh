#!/bin/sh
# Cross-builds VESK for 32-bit Windows with mingw-w64 and runs its test
# programs under wine (each program whole, as one ctest test). The wine
# prefix lives in the build folder and uses wine's null display driver, so
# windows, dialogs and menus work without an X server. Exits non-zero when
# anything fails.
#
#   scripts/test-windows.sh            the win32 preset (simulated instrument)
#   scripts/test-windows.sh win64      the same as a 64-bit program
#
# Needs the Debian packages mingw-w64, wine and wine32 (wine64 for win64).
set -eu
cd "$(dirname "$0")/.."
preset="${1:-win32}"
jobs="$(nproc 2>/dev/null || echo 2)"

export WINEPREFIX="${WINEPREFIX:-$PWD/build/$preset/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# The control PC runs Japanese Windows: code page 932 for the ANSI texts.
export LANG=ja_JP.UTF-8
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no runtime installers
if [ "$preset" = "win32" ] || [ "$preset" = "win32-trell32" ]; then
  export WINEARCH="${WINEARCH:-win32}"
fi
mkdir -p "$(dirname "$WINEPREFIX")"

echo "== $preset build"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$jobs"

echo "== wine prefix $WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1 || true
fi
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
wineserver --wait

echo "== $preset tests under wine"
status=0
ctest --preset "$preset" || status=$?
wineserver --kill >/dev/null 2>&1 || true
exit "$status"
