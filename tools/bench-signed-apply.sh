#!/usr/bin/env bash
# Times `patchtool apply` of a signed patch (--key: signature, digests and every payload entry
# checked) against the same apply without the check: 1 GiB in 64 files, the two taking turns,
# best of RUNS (default 3) each. Run it alone (2 shared cores); the data is deleted after.
# Usage: tools/bench-signed-apply.sh [WORKDIR]   (about 3 GiB; /dev/shm keeps the disk out of it)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d "${1:-/tmp}/signed-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
patchtool="$root/build/release/tools/patchtool"
cmake --preset release -S "$root" >/dev/null
cmake --build --preset release --target patchtool -j2 >/dev/null
runs="${RUNS:-3}"

mkdir -p "$work/src/payload" "$work/src/game"
echo "bench game" >"$work/src/game/Game.exe"
for i in $(seq -w 1 64); do head -c 16777216 /dev/urandom >"$work/src/payload/file$i.bin"; done
cat >"$work/src/patch.toml" <<'TOML'
language = "en"
payload = "payload"
[game]
file = "game/Game.exe"
TOML
"$patchtool" keygen -o "$work/publisher" >/dev/null
"$patchtool" build "$work/src/patch.toml" -o "$work/patch" --sign "$work/publisher.key" >/dev/null

once() {  # ARGS...: wall seconds of one apply into $elapsed, the archive in the page cache
  rm -rf "$work/game"; mkdir -p "$work/game"; cp "$work/src/game/Game.exe" "$work/game/"
  cat "$work/patch/patch_payload.dat" >/dev/null
  local start end
  start=$(date +%s.%N)
  "$patchtool" apply --quiet "$work/patch" "$work/game" "$@" >/dev/null
  end=$(date +%s.%N)
  elapsed=$(echo "$end - $start" | bc -l)
}
best_plain=999; best_signed=999
for ((r = 0; r < runs; r++)); do
  once; best_plain=$(echo "if ($elapsed < $best_plain) $elapsed else $best_plain" | bc -l)
  once --key "$work/publisher.pub"; best_signed=$(echo "if ($elapsed < $best_signed) $elapsed else $best_signed" | bc -l)
done
printf 'unsigned apply: %.2f s\nsigned apply (--key): %.2f s\ncost of the check: %+.0f%%\n' \
  "$best_plain" "$best_signed" "$(echo "($best_signed / $best_plain - 1) * 100" | bc -l)"
