#!/bin/sh
# The Windows builds and their tests, as CI runs them:
#
#   1. builds the four Windows presets: win32-trell32 (the control PC's
#      program, Windows XP SP3 and later), win32-xp (the simulator's program
#      and the client, the same way, for the package), win32 (32-bit,
#      simulated instrument, with the tests) and win64 (the same, 64-bit);
#   2. checks the 32-bit programs without running them: PE32 for i386, a
#      windows (not console) program, imports (XP SP3 allow-list, the
#      TRELL32.dll operations), every resource; the client as a console
#      program without resources;
#   3. runs the win64 test programs, the end-to-end tests of VESK.exe among
#      them, under wine64;
#   4. runs the win32 test programs too, but only where this machine can:
#      wine32 installed and a kernel that runs 32-bit programs;
#   5. builds the control-PC package and checks its contents.
#
# Wine prefixes live in the build folders and use wine's null display
# driver, so windows, dialogs and menus work without an X server. Exits
# non-zero when anything fails. Needs the packages of .ci/packages
# (scripts/install-packages.sh), never wine32 (see README).
set -eu
cd "$(dirname "$0")/.."
jobs="$(nproc 2>/dev/null || echo 2)"
python=/usr/bin/python3  # Debian's, which has python3-pefile

# The control PC runs Japanese Windows: code page 932 for the ANSI texts.
# Without the locale wine would quietly use another code page, and the
# tests that read Japanese texts would have nothing to check.
export LANG=ja_JP.UTF-8
export VESK_REQUIRE_CODE_PAGE_932=1
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no runtime installers
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "the ja_JP.UTF-8 locale is missing: run scripts/install-packages.sh" >&2
  exit 1
fi

build() {
  echo "== $1 build"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

# A wine prefix of the build's own, made once; wineboot's own complaints
# are shown when it fails, not swallowed.
prepare_wine() {  # preset loader
  export WINEPREFIX="$PWD/build/$1/wine"
  if [ "$1" = win32 ]; then
    export WINEARCH=win32  # a 32-bit prefix, also where wine64 is installed beside wine32
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    if ! log="$("$2" wineboot --init 2>&1)"; then
      echo "$log" >&2
      echo "wineboot failed in $WINEPREFIX" >&2
      return 1
    fi
  fi
  "$2" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  wineserver --wait
}

run_under_wine() {  # preset loader
  prepare_wine "$1" "$2"
  echo "== $1 tests under $2"
  status=0
  ctest --preset "$1" || status=$?
  wineserver --kill >/dev/null 2>&1 || true
  return "$status"
}

build win32-trell32
build win32-xp
build win32
build win64

echo "== static checks of the Windows programs"
$python tests/windows/check_executable.py build/win32-trell32/app/VESK.exe --machine i386 \
  --xp-allow-list tests/windows/xp_sp3_imports.txt --trell32 scope/sem_operations.def
for program in app/VESK.exe client/vesk-client.exe; do
  console=""
  [ "$program" = client/vesk-client.exe ] && console=--console
  $python tests/windows/check_executable.py "build/win32-xp/$program" --machine i386 $console \
    --xp-allow-list tests/windows/xp_sp3_imports.txt --no-trell32
done
$python tests/windows/check_executable.py build/win32/app/VESK.exe --machine i386 --no-trell32
$python tests/windows/check_executable.py build/win64/app/VESK.exe --machine amd64 --no-trell32
$python -m unittest discover -s tests/windows -p check_executable_test.py

run_under_wine win64 /usr/lib/wine/wine64

# The 32-bit loader is itself a 32-bit program: if it starts, the kernel
# runs 32-bit programs and wine32 is there.
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  run_under_wine win32 /usr/lib/wine/wine
else
  echo "== win32 tests not run: no wine32, or a kernel without 32-bit emulation (the programs were checked above)"
fi

scripts/package-windows.sh
