#!/bin/sh
# Builds and runs the whole test suite: the plain build, then under
# AddressSanitizer + UndefinedBehaviorSanitizer, then ThreadSanitizer, then
# with clang, then a bounded run of each fuzz target (scripts/fuzz.sh), then
# the portable code built 32-bit (gcc -m32) and its tests run under
# qemu-i386-static, then the Windows builds (scripts/test-windows.sh:
# cross-built, checked, run under wine64, packaged).
# Pass stage names to run only some of them, e.g. scripts/test.sh default
#   stages: default asan tsan clang fuzz linux32 windows
set -eu
cd "$(dirname "$0")/.."
stages="${*:-default asan tsan clang fuzz linux32 windows}"
jobs="$(nproc 2>/dev/null || echo 2)"
extra=""
case " $stages " in *" linux32 "*) extra="$extra --linux32" ;; esac
case " $stages " in *" windows "*) extra="$extra --windows" ;; esac
# shellcheck disable=SC2086  # the options are words
./scripts/install-packages.sh $extra
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
  started="$(date +%s)"
  cmake --preset "$stage" >/dev/null
  cmake --build --preset "$stage" -j "$jobs"
  ctest --preset "$stage" -j "$jobs"
  echo "== $stage took $(($(date +%s) - started)) s"
done
