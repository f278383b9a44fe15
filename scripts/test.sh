#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test suite: the native unit tests with
# sanitizers, the same tests and the end-to-end window tests under Wine in a headless X server,
# and a short run of each fuzz target.
set -euo pipefail
mkdir -p "$(dirname "$0")/../build"
cd "$(dirname "$0")/.."

bash scripts/setup.sh
jobs="$(nproc)"
start=$SECONDS

echo "== native build (g++, AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
echo "== native tests"
ctest --preset native -j "$jobs" 2>&1 | tee build/native-ctest.log

echo "== Windows build (mingw-w64)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
echo "== Windows tests under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/wine-ctest.sh 2>&1 | tee build/windows-ctest.log

echo "== fuzz targets (clang, libFuzzer)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash scripts/run-fuzz.sh "${FUZZ_SECONDS:-15}"

count() { grep -o 'tests failed out of [0-9]*' "$1" | grep -o '[0-9]*$'; }
native=$(count build/native-ctest.log)
windows=$(count build/windows-ctest.log)
echo "== native suite: $native tests, Windows suite under Wine: $windows tests, all passed in $((SECONDS - start)) s"
echo "$((native + windows)) passed, 0 failed"
