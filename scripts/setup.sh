#!/usr/bin/env bash
# Installs the Debian 12 packages Vexa builds with, when some are missing and we are root.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format pkg-config
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          libpugixml-dev libstb-dev
          qt6-base-dev libqt6opengl6-dev libgl-dev libgl1-mesa-dri xvfb xauth
          libtiff-dev libnifti2-dev libsegyio-dev libgdcm-dev zlib1g-dev
          python3-nibabel python3-segyio
          libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libmatio-dev qt6-multimedia-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq || true
    apt-get install -y -qq "${missing[@]}"
  else
    echo "Missing packages: ${missing[*]} (run as root or install them with apt-get)" >&2
  fi
fi
