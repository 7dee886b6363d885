#!/usr/bin/env bash
# Runs the Windows test suites under Wine (after scripts/build-windows.sh):
#   scripts/test-windows.sh [ctest arguments…]
# The Wine prefix of the build (scripts/wine-prefix.sh) with zevflashfile5.dll and mediakit.dll
# registered machine-wide and a persistent wineserver, started before ctest: Wine's background
# processes then belong to that server and not to ctest's pipes (which would keep a run waiting).
# ctest runs each program through Wine (CMAKE_CROSSCOMPILING_EMULATOR), each with a timeout.
# The sample files and ffmpeg's decodes that the suites compare with come from the Linux ffmpeg.
# The samples the Linux suite made (LINUX_BUILD, default build-asan: CI runs it first) are taken
# over before the run; the Windows programs make any other sample, and ffmpeg's decodes, through
# Wine's start of Unix programs (tests/support/FfmpegTools.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-windows}
LINUX_BUILD=${LINUX_BUILD:-build-asan}
if [ -d "$LINUX_BUILD/test-samples" ]; then
  mkdir -p "$BUILD_DIR/test-samples"
  # Each sample with its recipe; a sample whose recipe changed is made again by the test.
  cp -p -n "$LINUX_BUILD"/test-samples/* "$BUILD_DIR/test-samples/" 2>/dev/null || true
fi
. scripts/wine-prefix.sh
status=0
ctest --test-dir "$BUILD_DIR" -j"${JOBS:-2}" --output-on-failure "$@" || status=$?
exit $status
