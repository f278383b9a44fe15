#!/usr/bin/env bash
# Installs every package that the builds, the tests, the benchmarks and the demo need.
# Idempotent and non-interactive; meant for a fresh Debian 12 machine, run as root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build git
  g++-mingw-w64-x86-64-posix mingw-w64-tools
  googletest libgtest-dev libssl-dev openssl
  clang libclang-rt-14-dev
  libstb-dev libtomlplusplus-dev libcli11-dev libcurl4-openssl-dev
  wine wine64 fonts-wine fonts-wqy-microhei
  xvfb xauth x11-apps imagemagick
  # Under Wine a banner's web link reaches the Unix browser named in the registry; the tests name
  # curl, so a click shows up as a request to their own server.
  curl
  python3 time tar coreutils bc
  # scripts/format.sh and the format test
  clang-format
  # zstd: the library for the native builds, the tool that made the test frames and the benchmark's
  # reference; dpkg-dev unpacks the source package that the Windows build compiles (below).
  libzstd-dev zstd dpkg-dev
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The demo's banner images are drawn, not stored: draw them once, so that the demo definition
# builds as it stands (`patchtool build demo/patch.toml -o OUT`).
root="$(cd "$(dirname "$0")/.." && pwd)"
[ -f "$root/demo/banners/banner-korean.png" ] || bash "$root/demo/make-banners.sh" "$root/demo/banners"

# zstd for the Windows build: there is no mingw-w64 package, so cmake/zstd.cmake compiles Debian's
# source package, pinned in scripts/zstd-source, from a cache folder outside the tree. Skipped when
# that folder is complete (its stamp is written last).
# shellcheck source=zstd-source
source "$root/scripts/zstd-source"
zstd_dir="$ZSTD_CACHE_ROOT/libzstd-$ZSTD_DEBIAN_VERSION"
if [ "$(cat "$zstd_dir/.complete" 2>/dev/null)" != "$ZSTD_DEBIAN_VERSION" ]; then
  # Our own apt entry, for source indexes only: a deb-src entry never offers a binary package, so
  # it cannot change what apt installs or upgrades on this machine.
  sources=/etc/apt/sources.list.d/patchinstaller-zstd-source.sources
  entry="# Written by PatchInstaller's scripts/setup.sh: Debian source packages only (the Windows
# build compiles zstd from its source package). Safe to delete when that build is not needed.
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $ZSTD_DEBIAN_SUITE
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  if [ "$(cat "$sources" 2>/dev/null)" != "$entry" ]; then
    printf '%s\n' "$entry" | $SUDO tee "$sources" >/dev/null
  fi
  if ! apt-cache showsrc libzstd 2>/dev/null | grep -qxF "Version: $ZSTD_DEBIAN_VERSION"; then
    $SUDO apt-get update -q
  fi
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  # apt fetches as its unprivileged user when that user may write here (no warning as root).
  [ "$(id -u)" -ne 0 ] || chown _apt "$work" 2>/dev/null || true
  # apt checks every file against the signed index; dpkg-source then against the .dsc.
  (cd "$work" && apt-get source -q --download-only "libzstd=$ZSTD_DEBIAN_VERSION")
  dpkg-source -q -x "$work/libzstd_${ZSTD_DEBIAN_VERSION#*:}.dsc" "$work/source"
  $SUDO mkdir -p "$ZSTD_CACHE_ROOT"
  $SUDO rm -rf "$zstd_dir"
  $SUDO mv "$work/source" "$zstd_dir"
  echo "$ZSTD_DEBIAN_VERSION" | $SUDO tee "$zstd_dir/.complete" >/dev/null
  echo "zstd $ZSTD_DEBIAN_VERSION source in $zstd_dir"
fi
