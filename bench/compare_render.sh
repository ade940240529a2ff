#!/usr/bin/env bash
# Our 3D frame time and the peer's on the same two meshes, in one run under one virtual
# X server (Mesa llvmpipe). usage: bench/compare_render.sh [build dir]
# Needs python3-vtk9 for the peer (Debian's /usr/bin/python3). Ratios only mean something on an idle machine: the
# load average is printed first.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), cores: $(nproc)"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "
  '$build/bin/scene_bench' &&
  /usr/bin/python3 bench/vtk_render.py \"\${TMPDIR:-/tmp}/vexa_bench_sphere.stl\" &&
  /usr/bin/python3 bench/vtk_render.py \"\${TMPDIR:-/tmp}/vexa_bench_noise.stl\""
