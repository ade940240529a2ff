#!/usr/bin/env bash
# Sets up, builds and runs every test of Vexa.
#   ./test.sh             build in build/ and run all tests
#   ./test.sh --sanitize  build in build-asan/ with AddressSanitizer + UBSan and run all tests
#   ./test.sh --tsan      build in build-tsan/ with ThreadSanitizer and run the suites that
#                         start threads (label "threaded")
# Missing Debian packages are installed with apt-get when run as root. Safe to run again.
# VEXA_CMAKE_ARGS adds configuration options (CI: -DVEXA_WERROR=ON -DVEXA_BUILD_BENCH=ON).
set -euo pipefail
cd "$(dirname "$0")"

mode=normal
case "${1:-}" in
  --sanitize) mode=asan ;;
  --tsan) mode=tsan ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--tsan]" >&2; exit 2 ;;
esac

bash scripts/setup.sh

jobs=$(nproc)
case $mode in
  normal)
    dir=build
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${VEXA_CMAKE_ARGS:-}
    ;;
  asan)
    dir=build-asan
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEXA_SANITIZE=address,undefined ${VEXA_CMAKE_ARGS:-}
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:allocator_may_return_null=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
  tsan)
    dir=build-tsan
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXA_SANITIZE=thread -DVEXA_BUILD_GUI=OFF ${VEXA_CMAKE_ARGS:-}
    # Some tests ask for impossible allocations and expect a refusal, not an abort.
    export TSAN_OPTIONS=halt_on_error=1:allocator_may_return_null=1
    ;;
esac

cmake --build "$dir" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
if [ "$mode" = tsan ]; then
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -L threaded
else
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
fi
