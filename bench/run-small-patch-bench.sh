#!/usr/bin/env bash
# Installs of small patches (compressed and delta entries) against the usual tools, natively and
# under Wine, in one run. Heavy (about 10 GiB written; 9 minutes here when the machine is quiet,
# 15 when others load it): run it alone, by hand. Not part of scripts/test.sh.
#   compressed: a 1 GiB patch of 16 game-like archives installed by ExtractPayload (payload_bench
#               extract) against `zstd -d` of the very same zstd frames into the same folder, in RAM
#               (/dev/shm) and on the disk (build/bench-small, `sync` after each side counted)
#   delta:      a 1 GiB file with a few percent changed, the patch made by `patchtool build` with
#               `from`, against `xdelta3 -d -s old` of a patch made with `xdelta3 -9 -S none -e`,
#               in RAM; the old file is in the game folder, the new one takes its name
#   signed:     `patchtool apply` of the compressed patch with --key (every entry checked against
#               its signed digest) against the same apply without it, natively in RAM
#   memory:     the extraction of a 4 GiB delta entry on the disk: peak resident set (GNU time)
#               and peak private memory (RssAnon of /proc/PID/status, sampled every 20 ms)
# Our side always includes every SHA-256 check the install makes: a compressed or delta entry's
# made file against its declared digest, a delta's old file before anything is written. zstd -d
# checks its frames' XXH64, xdelta3 its windows' Adler-32. Each output is compared with the
# expected file, so a wrong result stops the script.
#
# The game-like data: the files of installed Debian packages, in sorted path order as far as
# needed (for 1 GiB: C headers, Wine's PE DLLs and programs, the first message catalogues; Perl
# modules when a larger size asks for more), concatenated, with every 768 KiB followed
# by 256 KiB of pseudo-random bytes that stand for already compressed textures and sounds inside
# an archive; 2.6:1 at level 12. The delta's new version is the old one with seeded edits
# (payload_bench mutate). The 4 GiB old file is pseudo-random (AES-CTR): the encoder finds no
# compression worth having and makes a plain delta.
#
# Times are the best of BENCH_RUNS (default 3), the reference and ours taking turns, the page
# cache warm; ratio = reference time / our time (1.0: as fast as the reference, more is faster).
# Under Wine our time is what the program measures (Wine's start-up left out). Settings:
#   BENCH_RUNS=3 BENCH_MIB=1024 BENCH_BIG_MIB=4096 BENCH_LEVEL=12 BENCH_DISK=1 (0: RAM only)
# BENCH_LEVEL is patchtool's --level; the default 15 took four times as long on this data.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
runs="${BENCH_RUNS:-3}"
mib="${BENCH_MIB:-1024}"
big_mib="${BENCH_BIG_MIB:-4096}"
level="${BENCH_LEVEL:-12}"
use_disk="${BENCH_DISK:-1}"
started=$SECONDS

echo "== building (release and windows presets)"
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target payload_bench patchtool zstd_bench delta_bench >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target payload_bench zstd_bench >/dev/null
native="$root/build/release/bench/payload_bench"
exe="$root/build/windows/bench/payload_bench.exe"
zstd_bench="$root/build/release/bench/zstd_bench"
zstd_exe="$root/build/windows/bench/zstd_bench.exe"
delta_bench="$root/build/release/bench/delta_bench"
patchtool="$root/build/release/tools/patchtool"

ram="/dev/shm/pi-small-bench-$$"
disk="$root/build/bench-small"
rm -rf "$disk"
mkdir -p "$ram" "$disk"
trap 'rm -rf "$ram" "$disk"' EXIT

source scripts/wine-env.sh
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true
winpath() { echo "Z:${1//\//\\}"; }

now() { date +%s.%N; }
lower() { if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
mib_s() { echo "scale=0; $1 / 1048576 / $2" | bc -l; }
gib() { printf '%.1f' "$(echo "$1 / 1073741824" | bc -l)"; }
verdict() { if (( $(echo "$1" | bc -l) )); then echo met; else echo MISSED; fi; }
fail() { echo "FAILED: $*" >&2; exit 1; }

# Wall seconds of `bash -c CMD` into $elapsed, after `PREPARE` (not counted) and a sync; with
# SYNC_AFTER=1 the sync of what it wrote is counted too (the disk rows).
timed() {
  local prepare="$1" cmd="$2" t0
  eval "$prepare"
  sync
  t0=$(now)
  bash -c "$cmd" >"$ram/last.out" 2>&1 || { cat "$ram/last.out" >&2; fail "$cmd"; }
  [ "${SYNC_AFTER:-0}" = 1 ] && sync
  elapsed=$(echo "$(now) - $t0" | bc -l)
}
# The reference and ours alternately, $runs times each; the best of each counts, so that a burst of
# load from elsewhere on this shared machine does not fall on one side only. Ours runs last, so its
# output is what the caller checks. Sets $best_ref and $best_ours.
race() {
  local prepare="$1" ref_cmd="$2" our_cmd="$3" r
  best_ref=""; best_ours=""
  for ((r = 0; r < runs; r++)); do
    timed "$prepare" "$ref_cmd"; best_ref=$(lower "$best_ref" "$elapsed")
    timed "$prepare" "$our_cmd"; best_ours=$(lower "$best_ours" "$elapsed")
  done
}
# Best of the seconds the program reports (Wine's start-up left out); with SYNC_AFTER=1 plus the
# sync right after it.
best_inner() {
  local prepare="$1"; shift
  local best="" t t0 r
  for ((r = 0; r < runs; r++)); do
    eval "$prepare"
    sync
    "$@" >"$ram/last.out" 2>&1 || { cat "$ram/last.out" >&2; fail "$*"; }
    t=$(tr -d '\r' <"$ram/last.out" | awk '/^seconds/ {print $2}')
    [ -n "$t" ] || fail "no time reported by $*"
    if [ "${SYNC_AFTER:-0}" = 1 ]; then
      t0=$(now); sync; t=$(echo "$t + $(now) - $t0" | bc -l)
    fi
    best=$(lower "$best" "$t")
  done
  echo "$best"
}
# Runs "$@" under GNU time and samples the process's /proc status every 20 ms: sets $max_rss_kib
# (GNU time's peak resident set: file pages mapped count, such as the old file of a delta) and
# $peak_anon_kib (the largest RssAnon seen: private memory). Under Wine the process is the one
# `wine` turns into, so its figures include Wine's own DLLs and heaps.
sample_memory() {
  /usr/bin/time -f "%M" -o "$ram/rss" "$@" >"$ram/last.out" 2>&1 &
  local tpid=$! pid="" key value state
  peak_anon_kib=0
  while [ -z "$pid" ] && kill -0 "$tpid" 2>/dev/null; do
    read -r pid _ 2>/dev/null <"/proc/$tpid/task/$tpid/children" || true
  done
  while [ -n "$pid" ] && [ -r "/proc/$pid/status" ]; do
    state=""
    while read -r key value _; do
      case "$key" in
        State:) state=$value ;;
        RssAnon:) ((value > peak_anon_kib)) && peak_anon_kib=$value ;;
      esac
    done 2>/dev/null <"/proc/$pid/status" || break
    [ "$state" = Z ] || [ -z "$state" ] && break
    sleep 0.02
  done
  wait "$tpid" || { cat "$ram/last.out" >&2; fail "$*"; }
  max_rss_kib=$(cat "$ram/rss")
}

definition() {  # FILE [EXTRA LINE...]: a patch definition whose game file is src/Game.exe
  local file="$1"; shift
  printf '%s\n' 'language = "en"' "$@" '[game]' 'file = "src/Game.exe"' >"$file"
}

# ---------------------------------------------------------------------------------------------
echo "== making $mib MiB of game-like data"
work="$ram/data"
mkdir -p "$work/pieces" "$work/src" "$work/payload/data"
echo "bench game" >"$work/src/Game.exe"
(
  set +o pipefail
  find /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/include /usr/share/locale /usr/share/perl \
    -type f -print0 2>/dev/null | LC_ALL=C sort -z | xargs -0 cat 2>/dev/null | head -c $((mib * 786432))
) >"$work/corpus"
(
  set +o pipefail
  openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass pass:media </dev/zero 2>/dev/null | head -c $((mib * 262144))
) >"$work/media"
split -a 4 -b 786432 "$work/corpus" "$work/pieces/c."
split -a 4 -b 262144 "$work/media" "$work/pieces/m."
corpus_bytes=$(stat -c %s "$work/corpus")
rm "$work/corpus" "$work/media"
for piece in "$work"/pieces/c.*; do
  cat "$piece" "$work/pieces/m.${piece##*/c.}"
done | split -a 2 -d -b 67108864 --additional-suffix=.pak - "$work/payload/data/pack"
rm -rf "$work/pieces"
bytes=$(du -cb "$work"/payload/data/*.pak | tail -n1 | cut -f1)
echo "   $(ls "$work"/payload/data | wc -l) archives, $bytes bytes ($corpus_bytes of package files)"

definition "$work/compressed.toml" 'payload = "payload"' 'compress = true'
"$patchtool" keygen -o "$work/publisher" >/dev/null
t0=$(now)
"$patchtool" build "$work/compressed.toml" -o "$work/patch" --level "$level" --sign "$work/publisher.key" >/dev/null
echo "   patchtool build --level $level --sign: $(printf %.0f "$(echo "$(now) - $t0" | bc -l)") s"
"$native" entry-data "$work/patch/patch_payload.dat" "$work/frames" >"$work/entries"
awk '$1 != 1 { bad = 1 } END { exit bad }' "$work/entries" || fail "an entry is not compressed: $(cat "$work/entries")"
packed=$(awk '{ s += $2 } END { print s }' "$work/entries")
echo "   compressed entries: $packed bytes, ratio $(ratio "$bytes" "$packed"):1"

printf '\n%-48s %8s %8s %6s %7s %7s\n' "install speed (best of $runs)" "ours s" "ref s" ratio goal "MiB/s"
row() {  # LABEL OURS REF GOAL BYTES
  printf '%-48s %8.3f %8.3f %6.2f %7s %7s %s\n' "$1" "$2" "$3" "$(ratio "$3" "$2")" ">=$4" "$(mib_s "$5" "$2")" \
    "$(verdict "$(ratio "$3" "$2") >= $4")"
}
targets=("$ram/game")
[ "$use_disk" = 1 ] && targets+=("$disk/game")
for out in "${targets[@]}"; do
  where=ram; sync_after=0
  [ "$out" = "$disk/game" ] && where=disk && sync_after=1
  reset="rm -rf '$out'; mkdir -p '$out/data'"
  ref_cmd="for f in '$work'/frames/data/*; do zstd -q -d -f \"\$f\" -o '$out'/data/\"\${f##*/}\"; done"
  SYNC_AFTER=$sync_after race "$reset" "$ref_cmd" "'$native' extract '$work/patch/patch_payload.dat' '$out'"
  diff -r "$work/payload" "$out" >/dev/null || fail "installed files differ from the originals"
  row "compressed $(gib "$bytes") GiB to $where (native) vs zstd -d" "$best_ours" "$best_ref" 0.8 "$bytes"
  wine_s=$(SYNC_AFTER=$sync_after best_inner "$reset" wine "$exe" extract "$(winpath "$work/patch/patch_payload.dat")" \
    "$(winpath "$out")")
  diff -r "$work/payload" "$out" >/dev/null || fail "files installed under Wine differ from the originals"
  row "compressed $(gib "$bytes") GiB to $where (Wine) vs zstd -d" "$wine_s" "$best_ref" 0.8 "$bytes"
  rm -rf "$out"
done

# The signed patch against itself unchecked: the same archive, only --key differs.
game="$ram/game"
reset="rm -rf '$game'; mkdir -p '$game'; cp '$work/src/Game.exe' '$game/'"
race "$reset" "'$patchtool' apply --quiet '$work/patch' '$game'" \
  "'$patchtool' apply --quiet '$work/patch' '$game' --key '$work/publisher.pub'"
diff -r "$work/payload/data" "$game/data" >/dev/null || fail "files of the signed apply differ from the originals"
cost=$(echo "($best_ours / $best_ref - 1) * 100" | bc -l)
printf '%-48s %8.3f %8.3f %+5.1f%% %7s %7s %s\n' "signed apply to ram (native) vs unsigned" "$best_ours" "$best_ref" \
  "$cost" "<=+10%" "$(mib_s "$bytes" "$best_ours")" "$(verdict "$cost <= 10")"

# Where the time of the compressed install goes: each part alone over the same bytes, best of
# $runs like the rows (a single run on this shared machine can come out slower than the whole).
best_part() {  # COMMAND...: the best of the seconds its output ends with, or that it took
  local best="" r t t0
  for ((r = 0; r < runs; r++)); do
    t0=$(now)
    t=$("$@" | tr -d '\r' | awk '/^seconds/ {print $2} / bytes in / {print $4} /^apply ok/ {print $3}' | tail -n1)
    [ -n "$t" ] || t=$(echo "$(now) - $t0" | bc -l)
    best=$(lower "$best" "$t")
  done
  echo "$best"
}
decode_all() {  # native|wine: zstd_bench over every archive's frames, seconds summed
  local total=0 f size s
  for f in "$work"/frames/data/*; do
    size=$(stat -c %s "$work/payload/data/${f##*/}")
    if [ "$1" = wine ]; then s=$(wine "$zstd_exe" "$(winpath "$f")" "$size"); else s=$("$zstd_bench" "$f" "$size"); fi
    total=$(echo "$total + $(echo "$s" | tr -d '\r' | awk '{print $4}')" | bc -l)
  done
  echo "seconds $total"
}
cat "$work"/payload/data/*.pak >"$ram/one.bin"
printf '   parts alone: zstd decode %.3f s native, %.3f s Wine; zstd -d -c >/dev/null %.3f s; SHA-256 %.3f s native, %.3f s Wine\n' \
  "$(best_part decode_all native)" "$(best_part decode_all wine)" \
  "$(best_part bash -c "zstd -q -d -c '$work'/frames/data/* >/dev/null")" \
  "$(best_part "$native" digest "$ram/one.bin")" "$(best_part wine "$exe" digest "$(winpath "$ram/one.bin")")"
rm -f "$ram/one.bin"

# ---------------------------------------------------------------------------------------------
echo
echo "== making the delta pair ($mib MiB, old file = the archives above in one)"
pair="$ram/pair"
mkdir -p "$pair/v1/data" "$pair/v2/data" "$pair/src"
cp "$work/src/Game.exe" "$pair/src/"
cat "$work"/payload/data/*.pak >"$pair/v1/data/game.pak"
rm -rf "$work"
echo "   $("$native" mutate "$pair/v1/data/game.pak" "$pair/v2/data/game.pak" $((mib * 8)) 1)"
definition "$pair/delta.toml" 'from = "v1"' 'payload = "v2"'
t0=$(now)
"$patchtool" build "$pair/delta.toml" -o "$pair/patch" --level "$level" >/dev/null
echo "   patchtool build --level $level: $(printf %.0f "$(echo "$(now) - $t0" | bc -l)") s"
"$native" entry-data "$pair/patch/patch_payload.dat" "$pair/frames" >"$pair/entries"
awk '$1 != 2 { bad = 1 } END { exit bad }' "$pair/entries" || fail "the entry is not a delta: $(cat "$pair/entries")"
t0=$(now)
xdelta3 -9 -S none -f -e -s "$pair/v1/data/game.pak" "$pair/v2/data/game.pak" "$pair/ref.xd"
echo "   xdelta3 -9 -S none -e: $(printf %.0f "$(echo "$(now) - $t0" | bc -l)") s"
new_bytes=$(stat -c %s "$pair/v2/data/game.pak")
echo "   delta: ours $(awk '{print $2}' "$pair/entries") bytes, xdelta3 $(stat -c %s "$pair/ref.xd") bytes"

game="$ram/game"
old="$pair/v1/data/game.pak"
# The old version linked into the game folder: both sides write the new file beside it and move it
# over the name, so the linked original stays the old version for the next run.
reset="rm -rf '$game'; mkdir -p '$game/data'; ln '$old' '$game/data/game.pak'"
ref_cmd="xdelta3 -d -f -s '$game/data/game.pak' '$pair/ref.xd' '$game/data/game.pak.new' && mv '$game/data/game.pak.new' '$game/data/game.pak'"
race "$reset" "$ref_cmd" "'$native' extract '$pair/patch/patch_payload.dat' '$game'"
cmp -s "$game/data/game.pak" "$pair/v2/data/game.pak" || fail "the delta's made file is not the new version"
row "delta $(gib "$new_bytes") GiB to ram (native) vs xdelta3 -d" "$best_ours" "$best_ref" 0.6 "$new_bytes"
wine_s=$(best_inner "$reset" wine "$exe" extract "$(winpath "$pair/patch/patch_payload.dat")" "$(winpath "$game")")
cmp -s "$game/data/game.pak" "$pair/v2/data/game.pak" || fail "the delta's file made under Wine is not the new version"
row "delta $(gib "$new_bytes") GiB to ram (Wine) vs xdelta3 -d" "$wine_s" "$best_ref" 0.6 "$new_bytes"
rm -rf "$game"
printf '   parts alone: delta decode (written, no digest) %.3f s native; SHA-256 of one file %.3f s native, %.3f s Wine (the install hashes the old and the new)\n' \
  "$(best_part "$delta_bench" apply "$old" "$pair/frames/data/game.pak" "$ram/made.bin" "$new_bytes")" \
  "$(best_part "$native" digest "$old")" "$(best_part wine "$exe" digest "$(winpath "$old")")"
rm -f "$ram/made.bin"
rm -rf "$pair"

# ---------------------------------------------------------------------------------------------
echo
echo "== making the $big_mib MiB delta pair on the disk (old file pseudo-random)"
pair="$disk/pair"
mkdir -p "$pair/v1/data" "$pair/v2/data" "$pair/src"
echo "bench game" >"$pair/src/Game.exe"
(
  set +o pipefail
  openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass pass:old </dev/zero 2>/dev/null | head -c $((big_mib * 1048576))
) >"$pair/v1/data/game.pak"
echo "   $("$native" mutate "$pair/v1/data/game.pak" "$pair/v2/data/game.pak" $((big_mib * 8)) 4)"
definition "$pair/delta.toml" 'from = "v1"' 'payload = "v2"'
t0=$(now)
"$patchtool" build "$pair/delta.toml" -o "$pair/patch" --level "$level" >/dev/null
echo "   patchtool build --level $level: $(printf %.0f "$(echo "$(now) - $t0" | bc -l)") s"
"$native" entry-data "$pair/patch/patch_payload.dat" "$pair/frames" >"$pair/entries"
awk '$1 != 2 { bad = 1 } END { exit bad }' "$pair/entries" || fail "the entry is not a delta: $(cat "$pair/entries")"
rm -rf "$pair/frames"
expected=$(openssl dgst -sha256 -r "$pair/v2/data/game.pak" | cut -c1-64)
new_bytes=$(stat -c %s "$pair/v2/data/game.pak")
rm "$pair/v2/data/game.pak"
echo "   delta: $(awk '{print $2}' "$pair/entries") bytes for $new_bytes"

printf '\n%-48s %10s %12s %8s\n' "peak memory of the extraction" "max RSS" "peak private" "goal"
game="$disk/game"
memory_row() {  # LABEL: checks the made file, prints the figures of the last sample_memory
  [ "$(openssl dgst -sha256 -r "$game/data/game.pak" | cut -c1-64)" = "$expected" ] ||
    fail "the $1 made file is not the new version"
  printf '%-48s %6d MiB %8d MiB %8s %s (%s s)\n' "delta $(gib "$new_bytes") GiB to disk ($1)" $((max_rss_kib / 1024)) \
    $((peak_anon_kib / 1024)) "<256 MiB" "$(verdict "$peak_anon_kib < 262144")" \
    "$(tr -d '\r' <"$ram/last.out" | awk '/^seconds/ {printf "%.1f", $2}')"
}
eval "rm -rf '$game'; mkdir -p '$game/data'; ln '$pair/v1/data/game.pak' '$game/data/game.pak'"
sample_memory "$native" extract "$pair/patch/patch_payload.dat" "$game"
memory_row native
eval "rm -rf '$game'; mkdir -p '$game/data'; ln '$pair/v1/data/game.pak' '$game/data/game.pak'"
sample_memory wine "$exe" extract "$(winpath "$pair/patch/patch_payload.dat")" "$(winpath "$game")"
memory_row Wine
rm -rf "$game" "$pair"

wineserver -k || true
echo
echo "whole script: $((SECONDS - started)) s"
