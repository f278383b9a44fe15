#!/usr/bin/env bash
# Times `patchtool apply` of a 1 GiB payload, without and with progress, against the plain
# extraction of the same archive (bench/payload_bench: ExtractPayload alone) and `tar -xf` of the
# same files. Run it alone (2 shared cores); the variants take turns, best of RUNS (default 3)
# counts; the data is deleted after.
# Usage: tools/bench-apply.sh [WORKDIR]   (needs about 4 GiB free; default: a new temp folder).
# A WORKDIR on a RAM file system (/dev/shm) keeps the disk's writeback out of the figures.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-$(mktemp -d)}"
trap 'rm -rf "$work"' EXIT
patchtool="$root/build/release/tools/patchtool"
cmake --preset release -S "$root" >/dev/null
cmake --build --preset release --target patchtool payload_bench -j2 >/dev/null
extract="$root/build/release/bench/payload_bench"
runs="${RUNS:-3}"

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
once() {  # COMMAND...: wall seconds of one run into $elapsed, archive in the page cache, data synced
  fresh
  cat "$work/patch/patch_payload.dat" "$work/payload.tar" >/dev/null
  local start end
  start=$(date +%s.%N)
  "$@"
  sync
  end=$(date +%s.%N)
  elapsed=$(echo "$end - $start" | bc -l)
}
labels=("tar -xf" "ExtractPayload (payload_bench)" "patchtool apply --quiet" "patchtool apply, plain lines"
        "patchtool apply, terminal bar")
run_variant() {
  case "$1" in
    0) once tar -xf "$work/payload.tar" -C "$work/game" ;;
    1) once "$extract" extract "$work/patch/patch_payload.dat" "$work/game" >/dev/null ;;
    2) once "$patchtool" apply --quiet "$work/patch" "$work/game" >/dev/null ;;
    3) once bash -c "'$patchtool' apply '$work/patch' '$work/game' >'$work/lines.txt'" ;;
    # A terminal for the bar: `script` gives the program a pseudo-terminal and keeps what it drew.
    4) once script -qec "'$patchtool' apply '$work/patch' '$work/game'" "$work/typescript" >/dev/null ;;
  esac
}
best=()
for ((r = 0; r < runs; r++)); do
  for v in 0 1 2 3 4; do
    run_variant "$v"
    if [ -z "${best[$v]:-}" ] || (( $(echo "$elapsed < ${best[$v]}" | bc -l) )); then best[$v]=$elapsed; fi
  done
done
for v in 0 1 2 3 4; do
  printf '%-32s %6.2f s   %5.1f%% of ExtractPayload\n' "${labels[$v]}" "${best[$v]}" \
    "$(echo "100 * ${best[$v]} / ${best[1]}" | bc -l)"
done
echo "plain progress lines: $(grep -c extracting "$work/lines.txt")"
echo "terminal bar redraws: $(tr '\r' '\n' <"$work/typescript" | grep -c '^\[')"
tr '\r' '\n' <"$work/typescript" | grep '^\[' | tail -1
