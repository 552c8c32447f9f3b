#!/bin/sh
# Installs the Debian packages of .ci/packages that are not installed yet
# (nothing at all when every one is there).
set -eu
cd "$(dirname "$0")/.."
command -v dpkg-query >/dev/null 2>&1 || exit 0
missing=""
for package in $(cat .ci/packages); do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0
echo "== installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq || true
$SUDO apt-get install -y -qq --no-install-recommends $missing
