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
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The demo's banner images are drawn, not stored: draw them once, so that the demo definition
# builds as it stands (`patchtool build demo/patch.toml -o OUT`).
root="$(cd "$(dirname "$0")/.." && pwd)"
[ -f "$root/demo/banners/banner-korean.png" ] || bash "$root/demo/make-banners.sh" "$root/demo/banners"
