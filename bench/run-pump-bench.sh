#!/usr/bin/env bash
# Measures what keeping the installer window answering costs during an install: the benchmark's
# payload (1 GiB in 64 files) extracted and a 256 MiB game file hashed under Wine, in alternating
# rounds with the install pump on and off, behind a real window with a 33 ms repaint timer.
# Data lives in a RAM file system so that disk writeback does not drown the difference.
# Usage: bench/run-pump-bench.sh [ROUNDS]   (not a test; takes about a minute)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
rounds="${1:-5}"

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target pump_bench payload_bench >/dev/null

data=/dev/shm/pi-pump-bench
rm -rf "$data"
trap 'rm -rf "$data"' EXIT
mkdir -p "$data/files" "$data/out"
for i in $(seq -w 1 64); do head -c $((16 * 1024 * 1024)) /dev/urandom >"$data/files/part$i.bin"; done
head -c $((256 * 1024 * 1024)) /dev/urandom >"$data/game.bin"

run() {
  if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c 'source scripts/wine-env.sh; wineserver -p; "$@"; rc=$?; wineserver -k; exit $rc' _ "$@"
  else
    bash -c 'source scripts/wine-env.sh; wineserver -p; "$@"; rc=$?; wineserver -k; exit $rc' _ "$@"
  fi
}
exe=build/windows/bench
run bash -c "wine $exe/payload_bench.exe pack 'Z:$data/payload.dat' 'Z:$data/files' >/dev/null &&
             wine $exe/pump_bench.exe 'Z:$data/payload.dat' 'Z:$data/game.bin' 'Z:$data/out' $rounds" | tr -d '\r'
