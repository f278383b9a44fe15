#!/usr/bin/env bash
# Measures the delta codec (bench/delta_bench) against xdelta3 -9, zstd -19 --long=31 --patch-from
# and bsdiff on real version pairs from Debian's archive, and prints one table. Run by hand, not by
# CI: it downloads about 560 MB into build/delta-pairs and takes about an hour on two cores (ours
# alone, TOOLS=ours, about 12 minutes).
# Needs the release build of delta_bench, apt-get, dpkg-deb, xz, xdelta3, zstd, bsdiff and GNU time.
#
# Usage: bench/delta-pairs.sh [PAIR...]    pairs: libreoffice linux firefox freedoom (default: all)
#        TOOLS="ours xdelta3" bench/delta-pairs.sh linux    only some rows
# The archive drops superseded security updates: when a version is gone, `apt-cache madison PKG`
# names the current ones and the variables below take others.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bench=${DELTA_BENCH:-$root/build/release/bench/delta_bench}
work=$root/build/delta-pairs
tools=${TOOLS:-"ours xdelta3 zstd bsdiff"}
bsdiff_max=${BSDIFF_MAX:-300000000}  # bsdiff holds about 8x the old file and sorts it for minutes
LO_OLD=${LO_OLD:-4:7.4.7-1+deb12u13} LO_NEW=${LO_NEW:-4:7.4.7-1+deb12u14}
LINUX_OLD=${LINUX_OLD:-6.1.190-1} LINUX_NEW=${LINUX_NEW:-6.1.192-1}
FX_OLD=${FX_OLD:-140.12.0esr-1~deb12u1} FX_NEW=${FX_NEW:-153.8.0esr-1~deb12u1}
DOOM_OLD=${DOOM_OLD:-0.12.1-2} DOOM_NEW=${DOOM_NEW:-0.13.0-2}  # bookworm, trixie

[ -x "$bench" ] || { echo "build it first: cmake --build --preset release --target delta_bench" >&2; exit 1; }
mkdir -p "$work"
cd "$work"

# An apt configuration of this folder's own that also reads trixie, for pairs whose newer version
# is only there; the machine's sources stay as they are.
apt_trixie() {
  local conf=$work/apt/apt.conf
  [ -f "$conf" ] && return
  mkdir -p apt/lists/partial apt/cache/archives/partial
  local key=/usr/share/keyrings/debian-archive-keyring.gpg
  printf 'deb [signed-by=%s] http://deb.debian.org/debian %s main\n' "$key" bookworm "$key" trixie > apt/sources.list
  printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "/dev/null";\nDir::State::Lists "%s";\nDir::Cache "%s";\n' \
    "$work/apt/sources.list" "$work/apt/lists" "$work/apt/cache" > "$conf.tmp"
  APT_CONFIG=$conf.tmp apt-get update >/dev/null && mv "$conf.tmp" "$conf"
}

# Downloads PKG=VERSION and extracts it into a folder of that name (once); APT_CONFIG, when set,
# picks the sources.
fetch() {
  local dir="$1=$2"
  [ -d "$dir" ] && return
  apt-get download "$1=$2" >/dev/null 2>&1 || { echo "cannot download $1=$2 (see apt-cache madison $1)" >&2; exit 1; }
  local deb
  deb=$(ls -t "$1"_*.deb | head -n1)
  mkdir -p "$dir.tmp" && dpkg-deb -x "$deb" "$dir.tmp" && mv "$dir.tmp" "$dir" && rm -f "$deb"
}

# Each pair leaves NAME.old and NAME.new.
pair_libreoffice() {  # a 69 MB shared library, a security update rebuilt
  fetch libreoffice-core "$LO_OLD"; fetch libreoffice-core "$LO_NEW"
  cp -n "libreoffice-core=$LO_OLD/usr/lib/libreoffice/program/libmergedlo.so" libreoffice.old
  cp -n "libreoffice-core=$LO_NEW/usr/lib/libreoffice/program/libmergedlo.so" libreoffice.new
}
pair_linux() {  # a 1.36 GB tar of two kernel point releases: large data, small changes
  fetch linux-source-6.1 "$LINUX_OLD"; fetch linux-source-6.1 "$LINUX_NEW"
  [ -f linux.old ] || xz -dc "linux-source-6.1=$LINUX_OLD/usr/src/linux-source-6.1.tar.xz" > linux.old
  [ -f linux.new ] || xz -dc "linux-source-6.1=$LINUX_NEW/usr/src/linux-source-6.1.tar.xz" > linux.new
}
pair_firefox() {  # a 150 MB program library across a major version
  fetch firefox-esr "$FX_OLD"; fetch firefox-esr "$FX_NEW"
  cp -n "firefox-esr=$FX_OLD/usr/lib/firefox-esr/libxul.so" firefox.old
  cp -n "firefox-esr=$FX_NEW/usr/lib/firefox-esr/libxul.so" firefox.new
}

pair_freedoom() {  # a 28 MB game data archive (a WAD of levels, sprites and sounds, uncompressed) across a release
  apt_trixie
  APT_CONFIG=$work/apt/apt.conf fetch freedoom "$DOOM_OLD"
  APT_CONFIG=$work/apt/apt.conf fetch freedoom "$DOOM_NEW"
  cp -n "freedoom=$DOOM_OLD/usr/share/games/doom/freedoom2.wad" freedoom.old
  cp -n "freedoom=$DOOM_NEW/usr/share/games/doom/freedoom2.wad" freedoom.new
}

# Runs a command under GNU time; sets secs and kib (peak resident set, mappings included).
timed() {
  /usr/bin/time -f "%e %M" -o time.out "$@" >cmd.out 2>&1 || { echo "failed: $*" >&2; cat cmd.out >&2; return 1; }
  read -r secs kib < time.out
}

row() {  # pair tool new_size patch make_s make_kib apply_s apply_kib private
  local new_size=$3
  printf "%-12s %-10s %12d %7.3f%% %8.1f %8d %8.2f %8.0f %8d %8s\n" "$1" "$2" "$4" \
    "$(echo "100*$4/$new_size" | bc -l)" "$5" "$(($6 / 1024))" "$7" "$(echo "$new_size/1000000/$7" | bc -l)" \
    "$(($8 / 1024))" "$9"
}

measure() {
  local name=$1 old=$1.old new=$1.new size private
  size=$(stat -c %s "$new")
  for tool in $tools; do
    rm -f out.bin patch.bin
    case $tool in
      ours)
        timed "$bench" make "$old" "$new" patch.bin; local ms=$secs mk=$kib
        private=$(grep -o 'peak private [0-9]*' cmd.out | grep -o '[0-9]*$')
        timed "$bench" apply "$old" patch.bin out.bin "$size"
        private="$private/$(grep -o 'peak private [0-9]*' cmd.out | grep -o '[0-9]*$')"
        ;;
      xdelta3)
        timed xdelta3 -9 -S none -f -e -s "$old" "$new" patch.bin; local ms=$secs mk=$kib
        timed xdelta3 -d -f -s "$old" patch.bin out.bin; private=-
        ;;
      zstd)
        timed zstd -q -f -19 --long=31 --patch-from="$old" "$new" -o patch.bin; local ms=$secs mk=$kib
        timed zstd -q -d -f --long=31 --patch-from="$old" patch.bin -o out.bin; private=-
        ;;
      bsdiff)
        if [ "$(stat -c %s "$old")" -gt "$bsdiff_max" ]; then continue; fi
        timed bsdiff "$old" "$new" patch.bin; local ms=$secs mk=$kib
        timed bspatch "$old" out.bin patch.bin; private=-
        ;;
    esac
    local ok=ok
    cmp -s out.bin "$new" || ok=DIFFERS
    echo "$(row "$name" "$tool" "$size" "$(stat -c %s patch.bin)" "$ms" "$mk" "$secs" "$kib" "$private") $ok"
  done
  rm -f out.bin patch.bin
}

pairs=("$@")
[ ${#pairs[@]} -gt 0 ] || pairs=(libreoffice linux firefox freedoom)
# make/apply MiB: peak resident set (for ours it counts the mapped files, which are page cache);
# private: ours only, anonymous memory at make/apply.
printf "%-12s %-10s %12s %8s %8s %8s %8s %8s %8s %8s\n" pair tool "patch B" "of new" "make s" "make MiB" \
  "apply s" "MB/s" "RSS MiB" "private"
for pair in "${pairs[@]}"; do
  "pair_$pair"
  measure "$pair"
done
