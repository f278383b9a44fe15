#!/usr/bin/env bash
# Builds the Windows installer, makes the demo patch, and runs one complete install under Wine:
# the installer starts beside the demo patch, the end-to-end driver chooses a scratch copy of the
# demo game folder, presses Install and closes the success box. Screenshots: build/demo-shots/.
# Without a DISPLAY everything runs in a headless X server (Xvfb).
# The demo patch is built by the authors' tool (scripts/make-demo.sh); its "Url" banner is served
# on 127.0.0.1:8765 while the installer runs.
set -euo pipefail
cd "$(dirname "$0")/.."

demo=build/demo
shots=build/demo-shots

if [ "${1:-}" != "--under-x" ]; then
  bash scripts/setup.sh
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$(nproc)" --target PatchInstaller e2e_driver
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --under-x
  fi
  exec bash "$0" --under-x
fi

export WINE_PREFIX_DIR="$PWD/build/wineprefix-demo"
source scripts/wine-env.sh
server=""  # the web server of the demo's banners, when there is one
stop() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
}
trap stop EXIT
# Start the server first, so that no Wine process waits on it; stop it before X goes away.
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true

driver=build/windows/e2e/e2e_driver.exe
rm -rf "$demo" "$shots"
mkdir -p "$demo" "$shots"
# Also writes a fresh copy of the demo game folder to $demo/game, the folder the install goes into.
# A large file in the payload keeps the install going long enough for a screenshot on its way.
DEMO_LARGE_MIB=768 bash scripts/make-demo.sh "$PWD/$demo"
app="$demo"
python3 -u -m http.server 8765 --bind 127.0.0.1 --directory "$demo/web" >"$demo/server.log" 2>&1 &
server=$!
# The installer fetches the Url banner at start-up: wait until our server reports that it listens
# (it prints that once bound; a port already taken makes it exit instead), and stop with its
# message rather than run the demo against someone else's server or none.
listening() { grep -q '^Serving HTTP' "$demo/server.log"; }
for _ in $(seq 100); do
  listening && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if ! listening || ! kill -0 "$server" 2>/dev/null; then
  echo "run-demo: the banner server on 127.0.0.1:8765 did not come up:" >&2
  cat "$demo/server.log" >&2
  exit 1
fi
cp build/windows/PatchInstaller.exe "$app/"

echo "== installer: $app/PatchInstaller.exe"
ls -l "$app"
wine "$driver" drive-demo "$PWD/$app/PatchInstaller.exe" "$PWD/$demo/game" "$PWD/$shots"
echo "== game folder after the install ($demo/game):"
(cd "$demo/game" && find . -type f | sort | while read -r f; do printf '  %8d  %s\n' "$(stat -c %s "$f")" "$f"; done)
echo "== screenshots:"
ls -1 "$shots"
