#!/bin/sh
# Builds VESK and vesk-client and starts VESK on port 22300 with both
# registry enable flags set (config/vesk-both.reg). On a fresh machine it first installs the
# packages of .ci/packages that are missing. Arguments are passed to vesk
# and override the defaults here, e.g. scripts/run.sh --port 22400
# --log-manager. Ctrl+C ends the service in order.
set -eu
cd "$(dirname "$0")/.."

./scripts/install-packages.sh

jobs="$(nproc 2>/dev/null || echo 2)"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs" --target vesk vesk-client
# The simulator's captures and the image-save settings stay inside build/.
mkdir -p build/run
exec build/default/app/vesk --registry config/vesk-both.reg --port 22300 \
  --settings-file build/run/seminfo.ini --image-folder build/run/images "$@"
