#!/bin/sh
# Installs the Debian packages of .ci/packages that are not installed yet
# (nothing at all when every one is there). With --windows also those of
# .ci/packages-windows, for the Windows builds, and the ja_JP.UTF-8 locale
# that their tests run under (the control PC's code page 932). With
# --linux32 also those of .ci/packages-linux32 (gcc -m32 and
# qemu-i386-static, for the 32-bit Linux build); both may be given. Never
# wine32: once installed it takes over /usr/bin/wine, and on kernels
# without 32-bit emulation it cannot run at all. Nor the i386 architecture:
# gcc-multilib brings the 32-bit C and C++ libraries as amd64 packages.
set -eu
cd "$(dirname "$0")/.."
command -v dpkg-query >/dev/null 2>&1 || exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

lists=.ci/packages
windows=no
for option in "$@"; do
  case "$option" in
    --windows) lists="$lists .ci/packages-windows"; windows=yes ;;
    --linux32) lists="$lists .ci/packages-linux32" ;;
    *) echo "install-packages.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

missing=""
for package in $(cat $lists); do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done
if [ -n "$missing" ]; then
  echo "== installing:$missing"
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

[ "$windows" = yes ] || exit 0
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "== generating the ja_JP.UTF-8 locale"
  if [ -f /etc/locale.gen ] && grep -q '^# *ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
    $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $SUDO locale-gen >/dev/null
  else
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  fi
fi
