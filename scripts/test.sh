#!/bin/sh
# Builds and runs the whole test suite: the plain build, then under
# AddressSanitizer + UndefinedBehaviorSanitizer, then ThreadSanitizer, then
# with clang, then a bounded run of each fuzz target (scripts/fuzz.sh), then
# the Windows builds (scripts/test-windows.sh: cross-built, checked, run
# under wine64, packaged).
# Pass stage names to run only some of them, e.g. scripts/test.sh default
#   stages: default asan tsan clang fuzz windows
set -eu
cd "$(dirname "$0")/.."
stages="${*:-default asan tsan clang fuzz windows}"
jobs="$(nproc 2>/dev/null || echo 2)"
case " $stages " in
  *" windows "*) ./scripts/install-packages.sh --windows ;;
  *) ./scripts/install-packages.sh ;;
esac
for stage in $stages; do
  if [ "$stage" = windows ]; then
    ./scripts/test-windows.sh
    continue
  fi
  if [ "$stage" = fuzz ]; then
    ./scripts/fuzz.sh "${VESK_FUZZ_SECONDS:-60}"
    continue
  fi
  echo "== $stage build"
  cmake --preset "$stage" >/dev/null
  cmake --build --preset "$stage" -j "$jobs"
  ctest --preset "$stage" -j "$jobs"
done
