#!/usr/bin/env bash
# Fails when a core file includes a header of a layer above its own.
# The core is layered one way, bottom first; a folder may include itself and the
# folders before it in this list. gui/ folders sit on top of everything and are not
# checked. The libraries under libs/ and common/ are below every app/ folder.
#   scripts/check_layers.sh [root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

layers=(menus host log config params script formats data video matlab study tasks display mesh views
        scene processing plugins main)

declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

status=0
for dir in "$root"/app/*/; do
  folder=$(basename "$dir")
  if [ -z "${rank[$folder]+x}" ]; then
    echo "app/$folder: folder missing from the layer order in scripts/check_layers.sh" >&2
    status=1
    continue
  fi
  mine=${rank[$folder]}
  # Core sources of the folder only (not its gui/).
  while IFS=: read -r file line target; do
    sub=${target%%/*}
    [ "$sub" = "$target" ] && continue            # a library header: "quill.h"
    [ -z "${rank[$sub]+x}" ] && continue          # not an app/ folder
    if [ "${rank[$sub]}" -gt "$mine" ]; then
      echo "${file#"$root"/}:$line: includes \"$target\" from layer '$sub', above '$folder'" >&2
      status=1
    fi
  done < <(find "$dir" -maxdepth 1 -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cpp' \) \
             -exec grep -Hn -o '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*"' {} + |
           sed -E 's/^([^:]*):([0-9]+):.*"([^"]*)"$/\1:\2:\3/')
done
if [ $status -eq 0 ]; then
  echo "layers: every core include points down"
fi
exit $status
