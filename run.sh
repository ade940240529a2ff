#!/usr/bin/env bash
# Sets up, builds and starts the Vexa workstation on the demo volume.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -x build/bin/vexa ]; then
  demo=build/bin/demo/demo_xy.gdr
  if [ -f "$demo" ]; then exec build/bin/vexa -in "$demo" "$@"; fi
  exec build/bin/vexa "$@"
fi
echo "The workstation program is not built yet (is Qt 6 installed?)." >&2
exit 1
