#!/usr/bin/env bash
# Builds everything under AddressSanitizer + UndefinedBehaviorSanitizer and runs the tests.
#   scripts/test.sh            install packages, build, test
#   SKIP_INSTALL=1 scripts/test.sh   when the packages are already there
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then scripts/install-deps.sh; fi
BUILD_DIR=${BUILD_DIR:-build-asan}
cmake -S . -B "$BUILD_DIR" -G Ninja -DFLV_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$BUILD_DIR" -j2
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
