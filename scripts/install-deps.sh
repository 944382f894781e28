#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Only missing packages are installed; an up-to-date machine returns at once.
set -euo pipefail

packages=(
  # build tools
  cmake ninja-build g++ pkg-config
  # media libraries (headers for the function tables; the shared objects are loaded at run time)
  libavcodec-dev libavformat-dev libavutil-dev libavfilter-dev libavdevice-dev
  libswscale-dev libswresample-dev
  # sound output, loaded at run time like the media libraries
  libsdl2-dev
  # windows, pictures, fonts
  qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # screenshots of the real window and the compiler runtime of the sanitizer build
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
