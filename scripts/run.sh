#!/bin/sh
# Builds VESK and starts it on port 22300 with both registry enable flags
# set (config/vesk-both.reg). On a fresh machine it first installs the
# packages of .ci/packages that are missing. Arguments are passed to vesk
# and override the defaults here, e.g. scripts/run.sh --port 22400
# --log-manager. Ctrl+C ends the service in order.
set -eu
cd "$(dirname "$0")/.."

missing=""
for package in $(cat .ci/packages); do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done
if [ -n "$missing" ]; then
  echo "== installing:$missing"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

jobs="$(nproc 2>/dev/null || echo 2)"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target vesk
# The simulator's captures and the image-save settings stay inside build/.
mkdir -p build/run
exec build/default/app/vesk --registry config/vesk-both.reg --port 22300 \
  --settings-file build/run/seminfo.ini --image-folder build/run/images "$@"
