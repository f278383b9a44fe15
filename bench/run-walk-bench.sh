#!/usr/bin/env bash
# The cost of acting only through held folders (the handle-relative walk) and of the durable journal
# (each batch of records and the commit mark forced to the disk), against the extraction of an
# earlier revision, natively. Heavy (several GiB written): run it alone, by hand.
#   bench/run-walk-bench.sh [BASE_REVISION]     (default: the revision before the walk, 45cca40)
# Both payload_bench builds extract the same archives, in turns inside the same run: into an empty
# folder (every file new) and over a finished extraction (every file replaced), 20,000 files of
# 4 KiB and 1 GiB in 64 files, to the disk (build/) and to RAM (/dev/shm). Each figure is the best
# of BENCH_RUNS (3) of the time ExtractPayload takes inside the process.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
base_rev="${1:-45cca40}"
runs="${BENCH_RUNS:-3}"
data="$root/build/walk-bench"
base_tree="$root/build/walk-bench-base"

echo "== building payload_bench here and at $base_rev"
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target payload_bench >/dev/null
rm -rf "$base_tree"
git worktree prune
git worktree add --detach -f "$base_tree" "$base_rev" >/dev/null 2>&1
cmake -S "$base_tree" -B "$base_tree/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$base_tree/build" -j2 --target payload_bench >/dev/null
ours="$root/build/release/bench/payload_bench"
base="$base_tree/build/bench/payload_bench"

ram="/dev/shm/pi-walk-$$"
cleanup() { rm -rf "$data" "$ram"; git worktree remove --force "$base_tree" >/dev/null 2>&1 || true; }
trap cleanup EXIT
mkdir -p "$data/src" "$ram"
echo "== making test data"
head -c 4096 /dev/urandom >"$data/block"
for ((i = 0; i < 20000; i++)); do
  ((i % 200 == 0)) && mkdir -p "$data/src/small/d$((i / 200))"
  cp "$data/block" "$data/src/small/d$((i / 200))/f$i.bin"
done
for ((i = 0; i < 64; i++)); do
  mkdir -p "$data/src/big/d$((i / 16))"
  head -c $((16 << 20)) /dev/urandom >"$data/src/big/d$((i / 16))/f$i.bin"
done
for set in small big; do "$ours" pack "$data/$set.dat" "$data/src/$set"; done

# Seconds ExtractPayload took: into an empty folder, or (with "replace") over a finished extraction.
inner() {  # binary archive folder [replace]
  rm -rf "$3"; mkdir -p "$3"
  if [ "${4:-}" = replace ]; then "$1" extract "$2" "$3" >/dev/null; fi
  sync
  "$1" extract "$2" "$3" | awk '/^seconds/ {print $2}'
}
lower() { if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi; }

printf '\n%-44s %10s %10s %8s\n' "extraction" "now (s)" "base (s)" "cost"
for out in "$data/out" "$ram/out"; do
  where=disk; [[ "$out" == "$ram"* ]] && where=ram
  for set in small big; do
    label="20,000 x 4 KiB"; [ "$set" = big ] && label="1 GiB in 64 files"
    for mode in new replace; do
      b=""; o=""
      for ((r = 0; r < runs; r++)); do
        b=$(lower "$b" "$(inner "$base" "$data/$set.dat" "$out" "$mode")")
        o=$(lower "$o" "$(inner "$ours" "$data/$set.dat" "$out" "$mode")")
      done
      diff -r "$data/src/$set" "$out" >/dev/null || { echo "extracted files differ"; exit 1; }
      printf '%-44s %10.3f %10.3f %7s%%\n' "$label, $mode, $where" "$o" "$b" "$(echo "scale=1; ($o - $b) * 100 / $b" | bc -l)"
    done
  done
  rm -rf "$out"
done
