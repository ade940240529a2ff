#!/usr/bin/env bash
# Fails when a C or C++ source differs from what clang-format (.clang-format) makes of it.
#   scripts/check_format.sh          list the files that differ
#   scripts/check_format.sh --fix    format them in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp' '*.hpp' '*.inc')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f (scripts/check_format.sh --fix)" >&2
    bad=1
  fi
done
[ $bad -eq 0 ] && echo "format: every source is formatted"
exit $bad
