#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Varnholt needs.
# Idempotent: does nothing when all packages are present.
set -euo pipefail

packages=(
  cmake make g++ pkg-config clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libimgui-dev libstb-dev libsdl2-dev libgl-dev libegl1 libgl1-mesa-dri
  libcurl4-openssl-dev uuid-dev libre2-dev libx11-dev libayatana-appindicator3-dev
  fonts-liberation2 fonts-wine fonts-dejavu-core fonts-noto-core fonts-droid-fallback
  groff openssl python3 rsync
  xvfb xauth xdotool imagemagick poppler-utils dbus-x11 openbox x11-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
