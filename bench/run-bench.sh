#!/usr/bin/env bash
# Throughput of the payload extraction and of the file digest against the usual tools, natively
# and under Wine, and the peak memory of extraction for two payload sizes. Heavy (several GiB
# written): run it alone, by hand. Not part of scripts/test.sh.
#   extraction: ~1 GiB in 64 files, and 20,000 files of 4 KiB, against `tar -xf` of the same files
#   digest:     one 1 GiB file against `openssl dgst -sha256`
#   guarantee:  the same two payloads replacing existing files, all or nothing (ExtractPayload)
#               against the previous path without undo (same archive reader; each file written
#               beside its target and renamed over it), in turns inside one process
#   signing:    `patchtool apply` of a signed 1 GiB patch in 64 files, every entry checked, against
#               the same apply unchecked (tools/bench-signed-apply.sh), on disk and in RAM
# Compressed and delta entries (against `zstd -d` and `xdelta3 -d`) have their own script:
# bench/run-small-patch-bench.sh.
# Each figure is the best of three runs with a warm page cache, the reference and ours taking
# turns; ratio = reference time / our time, so 1.0 means as fast as the reference, more is faster.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
data="$root/build/bench"
runs="${BENCH_RUNS:-3}"

echo "== building (release and windows presets)"
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target payload_bench >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target payload_bench >/dev/null
native="$root/build/release/bench/payload_bench"
exe="$root/build/windows/bench/payload_bench.exe"

rm -rf "$data"
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT

echo "== making test data in $data"
make_files() {  # folder count size-in-KiB files-per-subfolder
  local dir="$1" count="$2" kib="$3" per="$4" i
  for ((i = 0; i < count; i++)); do
    mkdir -p "$dir/d$((i / per))"
    head -c "$((kib * 1024))" /dev/urandom >"$dir/d$((i / per))/f$i.bin"
  done
}
make_files "$data/big" 64 16384 16
make_files "$data/mid" 4 16384 16
# 20,000 small files: one 4 KiB block of random data, copied, so making them is quick.
head -c 4096 /dev/urandom >"$data/block"
for ((i = 0; i < 20000; i++)); do
  ((i % 200 == 0)) && mkdir -p "$data/small/d$((i / 200))"
  cp "$data/block" "$data/small/d$((i / 200))/f$i.bin"
done
for set in big mid small; do
  "$native" pack "$data/$set.dat" "$data/$set"
  tar -cf "$data/$set.tar" -C "$data/$set" .
done
cp "$data/big/d0/f0.bin" "$data/one.bin"
for ((i = 1; i < 64; i++)); do cat "$data/big/d$((i / 16))/f$i.bin"; done >>"$data/one.bin"

now() { date +%s.%N; }
# Wall time of "$@" into $elapsed (output directory recreated and dirty data synced first), and its
# peak RSS into $peak_kib.
timed() {
  local out="$1"; shift
  local t0 t1
  rm -rf "$out"; mkdir -p "$out"; sync
  t0=$(now)
  /usr/bin/time -f "%M" -o "$data/rss" "$@" >"$data/last.out" || { echo "failed: $*" >&2; exit 1; }
  t1=$(now)
  elapsed=$(echo "$t1 - $t0" | bc -l)
  peak_kib=$(cat "$data/rss")
}
lower() { if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi; }
# The machine is shared: the reference and ours run alternately, $runs times each, and the best
# time of each counts, so that a burst of load elsewhere does not fall on one side only.
# Sets $best_ref and $best_ours. Usage: race OUT "reference command" "our command"
race() {
  local out="$1" ref_cmd="$2" our_cmd="$3" r
  best_ref=""; best_ours=""
  for ((r = 0; r < runs; r++)); do
    timed "$out" bash -c "$ref_cmd"; best_ref=$(lower "$best_ref" "$elapsed")
    timed "$out" bash -c "$our_cmd"; best_ours=$(lower "$best_ours" "$elapsed")
  done
}
best_of() {
  local out="$1"; shift
  local best=""
  for ((r = 0; r < runs; r++)); do timed "$out" "$@"; best=$(lower "$best" "$elapsed"); done
  echo "$best"
}
# Best of the time the program reports for itself (Wine's start-up excluded).
best_inner() {
  local out="$1"; shift
  local best="" t
  for ((r = 0; r < runs; r++)); do
    rm -rf "$out"; mkdir -p "$out"; sync
    /usr/bin/time -f "%M" -o "$data/rss" "$@" >"$data/last.out" || { echo "failed: $*" >&2; exit 1; }
    t=$(tr -d '\r' <"$data/last.out" | awk '/^seconds/ {print $2}')
    if [ -z "$best" ] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
  done
  peak_kib=$(cat "$data/rss")
  echo "$best"
}
ratio() { echo "scale=2; $1 / $2" | bc -l; }
mib_s() { echo "scale=0; $1 / 1048576 / $2" | bc -l; }

source scripts/wine-env.sh
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true
winpath() { echo "Z:${1//\//\\}"; }

# Extraction goes to the disk (build/bench) and, when there is one, to a RAM file system: on this
# shared machine the disk's file-creation latency swings with the other jobs' I/O (0.05 to 1 ms
# per file), and the RAM run shows the cost of our own work against tar's.
targets=("$data/out")
ram="/dev/shm/pi-bench-$$"
if [ -d /dev/shm ] && mkdir -p "$ram" 2>/dev/null; then
  targets+=("$ram")
  trap 'rm -rf "$data" "$ram"' EXIT
fi

printf '\n%-40s %10s %10s %8s %10s\n' "operation" "ours (s)" "ref (s)" "ratio" "ours MiB/s"
for out in "${targets[@]}"; do
  where=disk; [ "$out" = "$ram" ] && where=ram
  for set in big small; do
    cat "$data/$set.dat" "$data/$set.tar" >/dev/null
    bytes=$(stat -c %s "$data/$set.dat")
    race "$out" "tar -xf '$data/$set.tar' -C '$out'" "'$native' extract '$data/$set.dat' '$out'"
    ref=$best_ref; ours=$best_ours
    diff -r "$data/$set" "$out" >/dev/null || { echo "extracted files differ from the originals"; exit 1; }
    printf '%-40s %10.3f %10.3f %8s %10s\n' "extract $set to $where (native) vs tar" "$ours" "$ref" "$(ratio "$ref" "$ours")" "$(mib_s "$bytes" "$ours")"
    wine_s=$(best_inner "$out" wine "$exe" extract "$(winpath "$data/$set.dat")" "$(winpath "$out")")
    diff -r "$data/$set" "$out" >/dev/null || { echo "files extracted under Wine differ"; exit 1; }
    printf '%-40s %10.3f %10.3f %8s %10s\n' "extract $set to $where (Wine) vs tar" "$wine_s" "$ref" "$(ratio "$ref" "$wine_s")" "$(mib_s "$bytes" "$wine_s")"
  done
  rm -rf "$out"
done

echo
echo "cost of the all-or-nothing guarantee, replacing existing files (best of $runs, in one process):"
printf '%-40s %10s %10s %8s\n' "payload" "guarded" "previous" "cost"
for out in "${targets[@]}"; do
  where=disk; [ "$out" = "$ram" ] && where=ram
  for set in small big; do
    label="20,000 x 4 KiB"; [ "$set" = big ] && label="1 GiB in 64 files"
    rm -rf "$out"; mkdir -p "$out"; sync
    "$native" replace-cost "$data/$set.dat" "$out" "$runs" >"$data/last.out"
    diff -r "$data/$set" "$out" >/dev/null || { echo "replaced files differ from the originals"; exit 1; }
    g=$(awk '/^guarded/ {print $2}' "$data/last.out"); p=$(awk '/^previous/ {print $2}' "$data/last.out")
    printf '%-40s %10.3f %10.3f %7s%%\n' "$label to $where (native)" "$g" "$p" "$(echo "scale=0; ($g - $p) * 100 / $p" | bc -l)"
    rm -rf "$out"; mkdir -p "$out"; sync
    wine "$exe" replace-cost "$(winpath "$data/$set.dat")" "$(winpath "$out")" "$runs" | tr -d '\r' >"$data/last.out"
    diff -r "$data/$set" "$out" >/dev/null || { echo "files replaced under Wine differ"; exit 1; }
    g=$(awk '/^guarded/ {print $2}' "$data/last.out"); p=$(awk '/^previous/ {print $2}' "$data/last.out")
    printf '%-40s %10.3f %10.3f %7s%%\n' "$label to $where (Wine)" "$g" "$p" "$(echo "scale=0; ($g - $p) * 100 / $p" | bc -l)"
  done
  rm -rf "$out"
done

echo
echo "cost of checking a signed patch, 1 GiB in 64 files, patchtool apply (best of $runs):"
RUNS=$runs bash tools/bench-signed-apply.sh "$data" | sed 's/^/  disk: /'
if [ "${#targets[@]}" -gt 1 ]; then RUNS=$runs bash tools/bench-signed-apply.sh /dev/shm | sed 's/^/  ram:  /'; fi

cat "$data/one.bin" >/dev/null
bytes=$(stat -c %s "$data/one.bin")
race "$data/out" "openssl dgst -sha256 '$data/one.bin'" "'$native' digest '$data/one.bin'"
ref=$best_ref; ours=$best_ours
expected=$(openssl dgst -sha256 -r "$data/one.bin" | cut -c1-64 | tr a-f A-F)
grep -q "$expected" "$data/last.out" || { echo "digest differs from openssl's"; exit 1; }
printf '%-40s %10.3f %10.3f %8s %10s\n' "digest 1 GiB (native) vs openssl" "$ours" "$ref" "$(ratio "$ref" "$ours")" "$(mib_s "$bytes" "$ours")"
wine_s=$(best_inner "$data/out" wine "$exe" digest "$(winpath "$data/one.bin")")
grep -q "$expected" "$data/last.out" || { echo "Wine digest differs from openssl's"; exit 1; }
printf '%-40s %10.3f %10.3f %8s %10s\n' "digest 1 GiB (Wine) vs openssl" "$wine_s" "$ref" "$(ratio "$ref" "$wine_s")" "$(mib_s "$bytes" "$wine_s")"

echo
echo "peak memory of extraction (max RSS):"
for set in mid big; do
  size=$(( $(stat -c %s "$data/$set.dat") / 1048576 ))
  best_of "$data/out" "$native" extract "$data/$set.dat" "$data/out" >/dev/null
  native_kib=$peak_kib
  best_inner "$data/out" wine "$exe" extract "$(winpath "$data/$set.dat")" "$(winpath "$data/out")" >/dev/null
  printf '  payload %5d MiB: native %6d KiB, Wine %6d KiB\n' "$size" "$native_kib" "$peak_kib"
done

echo
echo "cost of a flush (fsync / FlushFileBuffers) per file, 2,000 files of 4 KiB written as extraction does:"
rm -rf "$data/out"; mkdir -p "$data/out"; sync
"$native" sync-cost "$data/out/native" 2000 4096 | sed 's/^/  native: /'
wine "$exe" sync-cost "$(winpath "$data/out/wine")" 2000 4096 | tr -d '\r' | sed 's/^/  Wine:   /'
wineserver -k || true
