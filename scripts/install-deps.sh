#!/usr/bin/env bash
# Installs the Debian packages Q.Tam needs.
#   scripts/install-deps.sh          what building, running, installing and packaging need
#   scripts/install-deps.sh --test   that and the test, benchmark and fuzz tool chain
# Safe to run again: it does nothing when everything is already installed.
set -euo pipefail

# Building and running (qt6-wayland lets the program run natively on a Wayland desktop;
# qt6-svg-dev draws the scalable icon at build time; dpf-source and lv2-dev build the plugins;
# libxcb1-dev lets the plugin's window ask the X server for the keyboard's state; dpkg-dev and
# file serve `make package`; lld links faster than the default linker).
packages=(
  cmake g++ make pkg-config ccache lld
  libsdl2-dev libjack-jackd2-dev libpulse-dev
  qt6-base-dev qt6-svg-dev qt6-wayland
  libsndfile1-dev libsoxr-dev
  libpugixml-dev libarchive-dev liblo-dev
  dpf-source lv2-dev libxcb1-dev
  dpkg-dev file
)

# Tests, benchmarks and fuzzing: test frameworks, independent readers of what the program
# writes, a private X server and sound server, the desktop-integration validators, and clang
# with its libFuzzer runtime (libclang-rt-14-dev) for `make fuzz`, and g++'s ThreadSanitizer
# runtime (libtsan2) for `make tsan`.
test_packages=(
  clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  sox libsox-fmt-mp3
  hydrogen-drumkits hydrogen-data python3-liblo
  xvfb xauth xdotool x11-utils openbox pulseaudio pulseaudio-utils
  at-spi2-core python3-pyatspi
  python3 python3-mido
  jackd2 python3-jack-client
  desktop-file-utils appstream shared-mime-info xdg-utils libglib2.0-bin lintian
  clang libclang-rt-14-dev
  libtsan2
  jalv lilv-utils
)

if [ "${1:-}" = "--test" ]; then
  packages+=("${test_packages[@]}")
fi

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
