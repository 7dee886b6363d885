#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer, in
# build-fuzz) and runs each of them:
#   1. every file under tests/data/invalid/ once (each file is input to every target);
#   2. SECONDS of fuzzing on a copy of the target's seed corpus fuzz/corpus/<target>/ (which
#      replays the corpus first), with the dictionary fuzz/flv.dict and 5 seconds per input.
#
# Memory limits: no single allocation of 128 MB or more (-malloc_limit_mb: a picture or a block
# of silence sized from a damaged field), and at most 1024 MB resident (-rss_limit_mb: many
# allocations for one input). AddressSanitizer keeps freed blocks in a quarantine to catch uses
# after free; at its default of 256 MB the quarantine alone, filled with the large short-lived
# blocks of the targets that decode (pictures, file windows), would take the resident memory past
# any limit that still means something. A 16 MB quarantine still catches a use shortly after a
# free, and leaves the limits to measure what the code holds.
# Any crash, leak, hang (timeout) or out-of-memory fails the script; the input that caused it is
# kept under $BUILD_DIR/fuzz-artifacts/<target>/. New corpus entries stay in the copy and are
# never committed automatically.
#
#   fuzz/run.sh SECONDS [TARGET...]      (default: every target)
#   BUILD_DIR=... fuzz/run.sh 60
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
    echo "usage: fuzz/run.sh SECONDS [TARGET...]" >&2
    exit 2
fi
SECONDS_EACH=$1
shift
ALL_TARGETS=(fuzz_walk fuzz_tag fuzz_script fuzz_params fuzz_stored_index fuzz_file)
if [ $# -gt 0 ]; then TARGETS=("$@"); else TARGETS=("${ALL_TARGETS[@]}"); fi
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-2}

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DFLV_BUILD_FUZZERS=ON -DFLV_SANITIZE=ON >/dev/null
ninja -C "$BUILD_DIR" -j"$JOBS" "${TARGETS[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
# The quarantine bound above, unless the caller chose one.
if [[ $ASAN_OPTIONS != *quarantine_size_mb* ]]; then
    ASAN_OPTIONS+=:quarantine_size_mb=${FUZZ_QUARANTINE_MB:-16}
fi
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
invalid=()
while IFS= read -r -d '' f; do invalid+=("$f"); done \
    < <(find tests/data/invalid -type f -print0 2>/dev/null | sort -z)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for target in "${TARGETS[@]}"; do
    binary="$BUILD_DIR/bin/$target"
    artifacts="$BUILD_DIR/fuzz-artifacts/$target/"
    mkdir -p "$artifacts" "$work/$target"
    log="$work/$target.log"
    options=(-rss_limit_mb=1024 -malloc_limit_mb=128 -timeout=5 -artifact_prefix="$artifacts")
    status=ok
    if [ ${#invalid[@]} -gt 0 ] &&
        ! "$binary" "${options[@]}" "${invalid[@]}" >"$log" 2>&1; then
        status="failed on tests/data/invalid"
    fi
    if [ "$status" = ok ]; then
        if [ -d "fuzz/corpus/$target" ]; then cp -r "fuzz/corpus/$target/." "$work/$target/"; fi
        if ! "$binary" "${options[@]}" -dict=fuzz/flv.dict -max_total_time="$SECONDS_EACH" \
            -print_final_stats=1 "$work/$target" >"$log" 2>&1; then
            status=failed
        fi
    fi
    if [ "$status" = ok ]; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | sed -E 's/^#[0-9]+[[:space:]]+[A-Z]+[[:space:]]+//')
        echo "$target: ok, $runs runs in ${SECONDS_EACH}s; $last"
    else
        echo "$target: $status" >&2
        tail -n 60 "$log" >&2
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found faults in: ${failed[*]} (inputs under $BUILD_DIR/fuzz-artifacts/)" >&2
    exit 1
fi
