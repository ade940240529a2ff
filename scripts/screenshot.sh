#!/usr/bin/env bash
# Starts the workstation under a virtual X server with the demo volume open and saves a
# PNG of its main window.   usage: scripts/screenshot.sh [output.png] [build dir] [file]
# With a file (an image, a volume or a mesh: ".stl", ".off", ".vtk"), that file is opened
# instead of the demo volume; a mesh shows in a 3D view, e.g.
#   scripts/screenshot.sh pig.png build ../shared/testdata/mesh/stl/cgal-pig.stl
# A picture of one parameter dialog of the program instead:
#   scripts/screenshot.sh --dialog <name> [output.png] [build dir]
# e.g. --dialog raw-import, --dialog rotation-3d; --dialog --list names them all.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--dialog" ]; then
  name=${2:?usage: scripts/screenshot.sh --dialog <name> [output.png] [build dir]}
  build=${4:-build}
  bash scripts/setup.sh
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$build" --target paramdialog_shot -j "$(nproc)"
  if [ "$name" = "--list" ]; then
    QT_QPA_PLATFORM=offscreen "$build/bin/paramdialog_shot" --list
    exit 0
  fi
  out=$(realpath -m "${3:-vexa-$name.png}")
  rm -f "$out"
  xvfb-run -a -s "-screen 0 1280x900x24" "$build/bin/paramdialog_shot" "$name" "$out"
  test -s "$out"
  echo "$out"
  exit 0
fi
out=$(realpath -m "${1:-vexa-screenshot.png}")
build=${2:-build}
file=${3:-}
bash scripts/setup.sh
if [ ! -x "$build/bin/vexa" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j "$(nproc)"
fi
rm -f "$out"
VEXA_SCREENSHOT="$out" xvfb-run -a -s "-screen 0 1280x900x24" "$build/bin/vexa" -in "${file:-$build/bin/demo/demo_xy.gdr}"
test -s "$out"
echo "$out"
