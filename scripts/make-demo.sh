#!/usr/bin/env bash
# Builds the demo patch with patchtool into the folder given (made when missing):
# patch_manifest.dat, patch_payload.dat, patch_assets.dat and the local banner, plus
#   web/     the files the demo's Url banner and links point at (serve it on 127.0.0.1:8765)
#   game/    a fresh copy of the stand-in game folder (version 1.0) to install into
# Usage: scripts/make-demo.sh OUT [PATCHTOOL]   (PATCHTOOL defaults to the native build's)
# DEMO_LARGE_MIB=N adds a payload file of N MiB (data/video/intro.bik), so that an install lasts
# long enough to be seen on its way.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:?usage: make-demo.sh OUT [PATCHTOOL]}"
patchtool="${2:-}"
if [ -z "$patchtool" ]; then
  patchtool="$root/build/release/tools/patchtool"
  # Always through the build: a no-op when nothing changed, a rebuild when a source did.
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target patchtool -j2 >/dev/null)
fi

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp -r "$root/demo/patch.toml" "$root/demo/game" "$root/demo/payload" "$stage/"
bash "$root/demo/make-banners.sh" "$stage/banners"
# Generated rather than stored: a level of 1.0 that 1.1 changes in places (a delta carries only
# the changes), and an intro that 1.1 drops (removed at install).
mkdir -p "$stage/game/data/levels" "$stage/payload/data/levels"
python3 - "$stage" <<'PY'
import random, sys
stage = sys.argv[1]
old = bytearray(random.Random(11).randbytes(1 << 18))
new = bytearray(old)
new[100000:102048] = bytes((i * 13) & 0xFF for i in range(2048))
new[200000:200000] = b"harbour at dusk" * 8
open(stage + "/game/data/levels/level1.dat", "wb").write(old)
open(stage + "/payload/data/levels/level1.dat", "wb").write(new)
open(stage + "/game/data/intro-1.0.txt", "w").write("Demo Game 1.0 intro text, dropped in 1.1.\n")
PY
if [ "${DEMO_LARGE_MIB:-0}" -gt 0 ]; then
  # Media the way games ship it, compressed already: the patch stores it as it is.
  mkdir -p "$stage/payload/data/video"
  head -c $((DEMO_LARGE_MIB * 1024 * 1024)) /dev/urandom >"$stage/payload/data/video/intro.bik"
fi

mkdir -p "$out"
"$patchtool" build "$stage/patch.toml" -o "$out"

mkdir -p "$out/web"
cp "$stage/banners/banner-news.png" "$out/web/"
for page in news levels; do
  printf '<!doctype html><title>Demo Game %s</title><h1>Demo Game 1.1: %s</h1>\n' "$page" "$page" >"$out/web/$page.html"
done
rm -rf "$out/game"
cp -r "$stage/game" "$out/game"
echo "demo patch in $out (serve $out/web on 127.0.0.1:8765; install into $out/game)"
