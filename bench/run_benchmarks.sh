#!/usr/bin/env bash
# Times morvex-split beside `cat` and the peers that do the same job, in one run, on takes it
# generates, and prints the figures as Markdown (docs/benchmarks.md shows a run).
#
#   bench/run_benchmarks.sh [BUILD_DIR]       default: build/release, configured if missing
#
# Environment: RUNS (5) timed runs per command, the median counts; WORK (BUILD_DIR/bench-work)
# where takes and outputs go, one disk for all; TAKE_SECONDS (60) length of the takes;
# SYNC_IN_TIMING=1 counts writing the outputs to disk (a `sync` inside the timing);
# DROP_CACHES=1 (root only) empties the page cache before each run, so the take is read from disk.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-5}
work=${WORK:-$build/bench-work}
seconds=${TAKE_SECONDS:-60}
sync_in_timing=${SYNC_IN_TIMING:-0}
drop_caches=${DROP_CACHES:-0}

for tool in sox sndfile-deinterleave /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/install-deps.sh)" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVEX_WERROR=ON \
        -DMORVEX_BUILD_BENCH=ON -DMORVEX_BUILD_APP=OFF -DMORVEX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target morvex-split morvex_bench_deinterleave morvex-make-take >/dev/null
split=$build/cli/morvex-split

rm -rf "$work"
mkdir -p "$work/take32" "$work/take16" "$work/out"
take32=$work/take32/MKZ01_01.WAV
take16=$work/take16/MKZ02_01.WAV
"$build/bench/morvex-make-take" "$take32" 32 24 48000 "$seconds"
"$build/bench/morvex-make-take" "$take16" 16 24 48000 "$seconds"
trap 'rm -rf "$work"' EXIT

results=$work/results
: >"$results"

# measure NAME CMD...: RUNS timed runs, outputs removed and dirty pages written out before each
# (not timed); records the median wall time in ns and the largest peak RSS in KiB.
measure() {
    local name=$1
    shift
    local times=() rss=0 run t0 t1 peak
    for ((run = 0; run < runs; run++)); do
        rm -rf "$work/out"/* "$work"/take*/*_[0-9][0-9].wav
        sync
        [ "$drop_caches" = 1 ] && echo 3 >/proc/sys/vm/drop_caches
        t0=$(date +%s%N)
        if ! /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/stderr"; then
            echo "$name failed:" >&2
            cat "$work/stderr" >&2
            exit 1
        fi
        [ "$sync_in_timing" = 1 ] && sync
        t1=$(date +%s%N)
        times+=($((t1 - t0)))
        peak=$(tail -n 1 "$work/rss")
        ((peak > rss)) && rss=$peak
    done
    rm -rf "$work/out"/* "$work"/take*/*_[0-9][0-9].wav
    local median
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
    echo "$name $median $rss" >>"$results"
    echo "  $name: $((median / 1000000)) ms, peak RSS $((rss / 1024)) MiB" >&2
}

load=$(cut -d ' ' -f 1-3 /proc/loadavg)
echo "Timing ($runs runs each) ..." >&2
measure cat32 bash -c "cat '$take32' > '$work/out/copy.wav'"
# GNU cat copies in the kernel (copy_file_range); dd moves the bytes through a 4 MiB user buffer
# as a program that reads and writes has to.
measure dd32 dd if="$take32" of="$work/out/copy.wav" bs=4M
for type in mono pairs all; do
    for format in wav caf; do
        measure "split32-$type-$format" "$split" -q -t "$type" -f "$format" "$take32" "$work/out/s"
    done
done
measure sox32 bash -c "for c in \$(seq 1 32); do sox '$take32' '$work/out/sox_'\$c.wav remix \$c || exit 1; done"
measure cat16 bash -c "cat '$take16' > '$work/out/copy.wav'"
measure split16-mono-wav "$split" -q "$take16" "$work/out/s"
measure sndfile16 sndfile-deinterleave "$take16"

echo "Kernel ..." >&2
kernel_csv=$work/kernel.csv
"$build/bench/morvex_bench_deinterleave" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=csv >"$kernel_csv" 2>/dev/null

# Report.
value() { awk -v n="$1" -v f="$2" '$1 == n { print $f }' "$results"; }
ms() { awk -v ns="$(value "$1" 2)" 'BEGIN { printf "%.0f", ns / 1e6 }'; }
ratio() { awk -v a="$(value "$1" 2)" -v b="$(value "$2" 2)" 'BEGIN { printf "%.2f", a / b }'; }
mbs() { awk -v ns="$(value "$1" 2)" -v bytes="$2" 'BEGIN { printf "%.0f", bytes / (ns / 1e9) / 1e6 }'; }
rss() { awk -v k="$(value "$1" 3)" 'BEGIN { printf "%.1f", k / 1024 }'; }
bytes32=$(stat -c %s "$take32")
bytes16=$(stat -c %s "$take16")

echo
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(free -g | awk '/^Mem:/ { print $2 }') GiB RAM;"
echo "disk of $work: $(df -h --output=source,fstype "$work" | tail -n 1 | tr -s ' ');"
echo "kernel $(uname -r); $(sox --version 2>&1 | head -n 1 | sed 's/^sox: *//'); $(sndfile-deinterleave 2>&1 | sed -n 's/^Using //p')."
echo "Load average before the run: $load."
echo "Medians of $runs runs; take read from $([ "$drop_caches" = 1 ] && echo 'disk (page cache dropped before each run)' || echo 'the page cache');" \
    "outputs written to the page cache$([ "$sync_in_timing" = 1 ] && echo ' and synced to disk inside the timing')."
echo
echo "Take of 32 channels, 24 bit, 48 kHz, $seconds s ($bytes32 bytes):"
echo
echo "| Command | Median | MB/s | × cat | Peak RSS (MiB) |"
echo "|---|---:|---:|---:|---:|"
for name in cat32 dd32 split32-mono-wav split32-mono-caf split32-pairs-wav split32-pairs-caf \
    split32-all-wav split32-all-caf sox32; do
    echo "| $name | $(ms $name) ms | $(mbs $name "$bytes32") | $(ratio $name cat32) | $(rss $name) |"
done
echo
echo "Take of 16 channels, 24 bit, 48 kHz, $seconds s ($bytes16 bytes):"
echo
echo "| Command | Median | MB/s | × cat | Peak RSS (MiB) |"
echo "|---|---:|---:|---:|---:|"
for name in cat16 split16-mono-wav sndfile16; do
    echo "| $name | $(ms $name) ms | $(mbs $name "$bytes16") | $(ratio $name cat16) | $(rss $name) |"
done
echo
echo "De-interleave kernel, one core, one 4 MiB source block per iteration (median of 5):"
echo
echo "| Case (channels, bytes per sample, channels per file; 0 = all) | GB/s, wall time | GB/s, CPU time |"
echo "|---|---:|---:|"
# CSV columns: name, iterations, real_time, cpu_time (per iteration, in the benchmark's unit), ...
awk -F, -v block=4194304 '/_median"/ { name = $1; gsub(/"/, "", name);
    sub(/_median$/, "", name); sub(/\/real_time$/, "", name);
    printf "| %s | %.2f | %.2f |\n", name, block / $3 / 1e3, block / $4 / 1e3 }' "$kernel_csv"
