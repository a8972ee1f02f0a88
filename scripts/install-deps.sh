#!/usr/bin/env bash
# Installs the Debian 12 packages Ostrakit needs to build, run, test and package.
# Skips apt entirely when every package is already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev libqt6opengl6-dev libglu1-mesa-dev libeigen3-dev
  libxcb1-dev xvfb xauth libgl1-mesa-dri fonts-dejavu-core
  clang-14 libclang-rt-14-dev clang-format-14
  dpkg-dev file desktop-file-utils shared-mime-info libxml2-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
