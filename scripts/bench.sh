#!/bin/sh
# Builds the benchmark and VESK (RelWithDebInfo, the default preset) and
# measures VESK on the simulator against the floor server, side by side.
# Arguments go to vesk-bench, e.g. scripts/bench.sh --seconds 2 --rounds 10.
# VESK_BENCH_PORT (default 22380) and the next port are used; both must be
# free.
set -eu
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target vesk vesk-bench vesk-bench-floor

port="${VESK_BENCH_PORT:-22380}"
floor_port=$((port + 1))
work="$(mktemp -d)"
vesk_pid=""
floor_pid=""
cleanup() {
  for pid in $vesk_pid $floor_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A runtime folder of its own, so a VESK already running here does not
# count as this one's earlier instance.
VESK_RUNTIME_DIR="$work" build/default/app/vesk --registry config/vesk-both.reg --port "$port" --max-per-address 0 \
  --time-scale 0 --settings-file "$work/seminfo.ini" --image-folder "$work/images" \
  >"$work/vesk.out" 2>"$work/vesk.err" &
vesk_pid=$!
build/default/bench/vesk-bench-floor "$floor_port" &
floor_pid=$!
sleep 1
# A taken port must not go unnoticed: another server there would be
# measured in place of this one.
if ! kill -0 "$vesk_pid" 2>/dev/null || grep -q "error at" "$work/vesk.err"; then
  echo "vesk did not start on port $port:" >&2
  cat "$work/vesk.err" >&2
  exit 1
fi
if ! kill -0 "$floor_pid" 2>/dev/null; then
  echo "the floor server did not start on port $floor_port" >&2
  exit 1
fi

echo "$(nproc) processors, $(uname -sm), load average $(cut -d' ' -f1-3 /proc/loadavg)"
build/default/bench/vesk-bench --vesk-port "$port" --floor-port "$floor_port" "$@"
