#!/usr/bin/env bash
# Times `patchtool apply` of a 1 GiB payload, without and with a progress bar, against a plain
# `tar -xf` of the same files. Run it alone (2 shared cores): each step once, data deleted after.
# Usage: tools/bench-apply.sh [WORKDIR]   (needs about 4 GiB free; default: a new temp folder)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-$(mktemp -d)}"
trap 'rm -rf "$work"' EXIT
patchtool="$root/build/release/tools/patchtool"
cmake --preset release -S "$root" >/dev/null
cmake --build --preset release --target patchtool -j2 >/dev/null

mkdir -p "$work/src/payload/data" "$work/src/game"
echo "bench game" >"$work/src/game/Game.exe"
# 32 files of 32 MiB of random bytes, plus 1000 small ones: 1 GiB and a realistic tail of small files.
for i in $(seq -w 1 32); do head -c 33554432 /dev/urandom >"$work/src/payload/data/big$i.bin"; done
mkdir -p "$work/src/payload/small"
for i in $(seq 1 1000); do printf 'small file %d\n' "$i" >"$work/src/payload/small/f$i.txt"; done
cat >"$work/src/patch.toml" <<'TOML'
language = "en"
payload = "payload"
[game]
file = "game/Game.exe"
TOML
"$patchtool" build "$work/src/patch.toml" -o "$work/patch" >/dev/null
tar -cf "$work/payload.tar" -C "$work/src/payload" .
ls -l "$work/patch/patch_payload.dat" "$work/payload.tar"

fresh() { rm -rf "$work/game"; mkdir -p "$work/game"; cp "$work/src/game/Game.exe" "$work/game/"; sync; }
measure() {  # LABEL COMMAND...: wall seconds of one run, after the page cache holds the archive
  local label="$1"; shift
  fresh
  cat "$work/patch/patch_payload.dat" "$work/payload.tar" >/dev/null
  local start end
  start=$(date +%s.%N)
  "$@"
  sync
  end=$(date +%s.%N)
  printf '%-34s %6.2f s\n' "$label" "$(echo "$end - $start" | bc)"
}

measure "tar -xf" tar -xf "$work/payload.tar" -C "$work/game"
measure "patchtool apply --quiet" "$patchtool" apply --quiet "$work/patch" "$work/game"
measure "patchtool apply (plain lines)" bash -c "'$patchtool' apply '$work/patch' '$work/game' >'$work/lines.txt'"
measure "patchtool apply (terminal bar)" script -qec "'$patchtool' apply '$work/patch' '$work/game'" "$work/typescript"
echo "plain progress lines: $(grep -c extracting "$work/lines.txt")"
tail -c 200 "$work/typescript" | tr '\r' '\n' | tail -3
