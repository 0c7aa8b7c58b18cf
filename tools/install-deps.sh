#!/usr/bin/env bash
# Installs the Debian packages the project needs; only what is missing.
# Works as root or through sudo.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config ninja-build
  clang libclang-rt-14-dev
  juce-modules-source
  libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev libxcomposite-dev
  libxrender-dev libfreetype-dev libfontconfig1-dev
  libpoco-dev
  libboost-dev libboost-filesystem-dev libboost-system-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libjpeg-dev
  xvfb xauth x11-apps imagemagick
  xdotool wmctrl openbox x11-utils nginx
  fonts-dejavu-core
  curl ca-certificates
  nginx
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
