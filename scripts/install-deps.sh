#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the program need.
# (clang with its libFuzzer runtime, libclang-rt-14-dev, builds the fuzz targets of `make fuzz`.)
# Safe to run again: it does nothing when everything is already installed.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev
  qt6-base-dev
  sox libsndfile1-dev
  xvfb xauth xdotool x11-utils pulseaudio pulseaudio-utils
  at-spi2-core python3-pyatspi
  python3 python3-mido
  python3
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
