#!/usr/bin/env bash
# CI step after the tests: builds the libFuzzer targets with clang and runs each of them for a
# bounded time, after replaying every file under tests/data/invalid/ and its seed corpus (see
# fuzz/run.sh). Any crash, leak, hang or out-of-memory fails the step.
#   scripts/fuzz-ci.sh                       install packages, build, fuzz 60 s per target
#   FUZZ_SECONDS=30 SKIP_INSTALL=1 scripts/fuzz-ci.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then scripts/install-deps.sh; fi
start=$(date +%s)
BUILD_DIR=${BUILD_DIR:-build-fuzz} fuzz/run.sh "${FUZZ_SECONDS:-60}"
echo "fuzzing step: $(($(date +%s) - start)) s"
