#!/bin/sh
# Builds and runs the whole test suite three times: the plain build, then
# under AddressSanitizer + UndefinedBehaviorSanitizer, then ThreadSanitizer.
# Pass preset names to run only some of them, e.g. scripts/test.sh default
set -eu
cd "$(dirname "$0")/.."
presets="${*:-default asan tsan}"
jobs="$(nproc 2>/dev/null || echo 2)"
for preset in $presets; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
