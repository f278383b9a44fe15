#!/usr/bin/env bash
# Runs the Windows build's CTest suite under Wine. Expects an X display (xvfb-run provides one).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
# Start the server first: otherwise it inherits CTest's pipes and every test waits for it.
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true
rc=0
ctest --preset windows "$@" || rc=$?
wineserver -k || true
exit $rc
