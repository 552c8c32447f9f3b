#!/bin/sh
# Builds the fuzz targets (preset fuzz: clang, libFuzzer, ASan + UBSan) and
# runs each for the given seconds (default 60) on the generated seed corpus
# of every command and the dictionary of the command codes. The corpus
# grows in build/fuzz/corpus/<target> and is kept between runs; a finding
# is written to build/fuzz/ as crash-*, and the run fails.
#   scripts/fuzz.sh [seconds] [target...]   targets: dispatch connection
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets="${*:-dispatch connection}"
jobs="$(nproc 2>/dev/null || echo 2)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
out=build/fuzz
"$out/fuzz/vesk_fuzz_seeds" "$out/seeds" "$out/commands.dict"
for target in $targets; do
  echo "== fuzz $target for ${seconds}s"
  mkdir -p "$out/corpus/$target"
  # One request buffer, or a stream of several requests.
  max_len=4096
  [ "$target" = dispatch ] && max_len=1026
  VESK_FUZZ_SANDBOX="$PWD/$out/sandbox-$target" \
  "$out/fuzz/vesk_fuzz_$target" -max_total_time="$seconds" -len_control=0 -max_len="$max_len" \
    -dict="$out/commands.dict" -artifact_prefix="$out/" -print_final_stats=1 \
    "$out/corpus/$target" "$out/seeds"
  rm -rf "$out/sandbox-$target"
done
