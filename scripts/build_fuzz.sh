#!/usr/bin/env bash
# Builds the libFuzzer entry points with clang in build-fuzz/ (instrumented libraries,
# AddressSanitizer + UBSan). Run one with: build-fuzz/bin/<name>_fuzz [corpus folder]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXA_BUILD_FUZZ=ON -DVEXA_BUILD_TESTS=OFF -DVEXA_BUILD_GUI=OFF -DVEXA_WERROR=ON
targets=$(sed -n 's/^vexa_add_fuzzer(\([a-z0-9_]*\).*/\1/p' fuzz/*.cmake)
# shellcheck disable=SC2086
cmake --build build-fuzz -j "$(nproc)" --target $targets
