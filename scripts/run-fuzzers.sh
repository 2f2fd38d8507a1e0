#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for FUZZ_SECONDS (default
# 60), starting from the seeds in fuzz/corpus. Fails on any crash, hang, leak or sanitizer report,
# and prints the executions and coverage each target reached.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-60}"
targets=(morvex_fuzz_take_analysis morvex_fuzz_conversion)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVEX_BUILD_FUZZ=ON -DMORVEX_BUILD_APP=OFF -DMORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

# The targets write small takes and outputs for every input: keep them in memory when possible.
scratch_base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    scratch_base=/dev/shm
fi
scratch="$(mktemp -d "$scratch_base/morvex-fuzz.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

mkdir -p "$build/artifacts"

failed=0
summary=()
for target in "${targets[@]}"; do
    name="${target#morvex_fuzz_}"
    corpus="$build/corpus/$name"
    log="$build/$name.log"
    mkdir -p "$corpus"
    echo "== $target: ${seconds}s"
    status=0
    TMPDIR="$scratch" ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
        UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
        "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -dict="$root/fuzz/wav.dict" -artifact_prefix="$build/artifacts/$name-" \
        "$corpus" "$root/fuzz/corpus/$name" >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    cov="$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)"
    summary+=("$target: ${runs:-?} executions, ${cov:-cov: ?}, corpus $(ls "$corpus" | wc -l) inputs")
    if [ "$status" -ne 0 ] ||
        grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|SUMMARY: ' "$log"; then
        echo "!! $target failed (exit $status); log: $log"
        grep -E -A30 'ERROR:|runtime error:|deadly signal' "$log" | head -60 || true
        failed=1
    fi
done

echo "== fuzzing summary"
printf '   %s\n' "${summary[@]}"
exit "$failed"
