#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test suite: the native unit tests with
# sanitizers, the same tests and the end-to-end window tests under Wine in a headless X server,
# and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs="$(nproc)"
start=$SECONDS

echo "== native build (g++, AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
echo "== native tests"
ctest --preset native -j "$jobs"

echo "== Windows build (mingw-w64)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
echo "== Windows tests under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/wine-ctest.sh

echo "== fuzz targets (clang, libFuzzer)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash scripts/run-fuzz.sh "${FUZZ_SECONDS:-15}"

echo "== all suites passed in $((SECONDS - start)) s"
