#!/usr/bin/env bash
# Times morvex-split against copying the take with `cat`, side by side in one run, and prints a
# Markdown table of ratios. Every round runs each command once, in turn, each right after a copy
# of its own, so that a change of the machine's load or the disk's speed touches both sides of a
# ratio alike; a command's ratio is the median over the rounds of its time divided by the time of
# the copy just before it.
#
#   bench/split_vs_copy.sh [BUILD_DIR]     default: build/release, configured if missing
#
# Environment:
#   WORK          folder for the take and the outputs (default /dev/shm/morvex-bench: tmpfs)
#   RUNS          rounds (default 7)
#   TAKE_SECONDS  length of the 32-channel, 24-bit, 48 kHz take (default 60)
#   SYNC=1        the copy is `cat take > copy && sync copy`, as split syncs its own outputs
#   DROP_CACHES=1 the page cache is emptied before every command (root), so the take is read
#                 from the disk
#   OTHERS        other morvex-split builds timed in the same rounds, as NAME=PATH ...
#                 (for example before=../old/build/release/cli/morvex-split)
#   TYPES         output types to time (default "mono pairs all")
#   CONTAINERS    input containers to time, each the same take (default "wav"; also "rf64" and
#                 "w64", written from the WAV take by ffmpeg)
#   SILENT        the take's last SILENT channels are digital silence (default 0)
#   SKIP_SILENT=1 every split is timed a second time with --skip-silent ("-skip"), in the same
#                 rounds: the cost of looking for silent outputs and deleting them
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build/release}")
runs=${RUNS:-7}
work=${WORK:-/dev/shm/morvex-bench}
seconds=${TAKE_SECONDS:-60}
sync_copy=${SYNC:-0}
drop_caches=${DROP_CACHES:-0}
read -r -a others <<<"${OTHERS:-}"
types=${TYPES:-mono pairs all}
containers=${CONTAINERS:-wav}
silent=${SILENT:-0}
skip_silent=${SKIP_SILENT:-0}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVEX_BUILD_BENCH=ON \
        -DMORVEX_BUILD_APP=OFF -DMORVEX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target morvex-split morvex-make-take >/dev/null
split=$build/cli/morvex-split

rm -rf "$work"
mkdir -p "$work/take" "$work/out"
trap 'rm -rf "$work"' EXIT
take=$work/take/MKZ01_01.WAV
"$build/bench/morvex-make-take" "$take" 32 24 48000 "$seconds" "$silent"
# The take in each container asked for: the same samples, another header.
declare -A takes=([wav]=$take)
for container in $containers; do
    case $container in
    wav) ;;
    rf64) takes[rf64]=$work/take/rf64/MKZ01_01.WAV ;;
    w64) takes[w64]=$work/take/w64/MKZ01_01.w64 ;;
    *) echo "unknown container $container" >&2 && exit 2 ;;
    esac
    if [ "$container" != wav ]; then
        mkdir -p "$(dirname "${takes[$container]}")"
        ffmpeg -nostdin -v error -i "$take" -c copy \
            $([ "$container" = rf64 ] && echo "-rf64 always" || echo "-f w64") "${takes[$container]}"
    fi
done
results=$work/results
: >"$results"

copy="cat '$take' > '$work/out/copy.wav'"
copy_text='cat take > copy'
if [ "$sync_copy" = 1 ]; then
    copy+=" && sync '$work/out/copy.wav'"
    copy_text+=' && sync copy'
fi
source_text='the page cache'
[ "$drop_caches" = 1 ] && source_text='the disk (page cache dropped before each command)'
names=(copy)
commands=("$copy")
for type in $types; do
    for format in wav caf; do
        for container in $containers; do
            suffix=$([ "$container" = wav ] || echo "-from-$container")
            names+=("split-$type-$format$suffix")
            commands+=("'$split' -q -t $type -f $format '${takes[$container]}' '$work/out/s'")
            if [ "$skip_silent" = 1 ]; then
                names+=("split-$type-$format$suffix-skip")
                commands+=("'$split' -q --skip-silent -t $type -f $format '${takes[$container]}' '$work/out/s'")
            fi
        done
        for other in "${others[@]}"; do
            names+=("${other%%=*}-$type-$format")
            commands+=("'${other#*=}' -q -t $type -f $format '$take' '$work/out/s'")
        done
    done
done

# run NAME CMD: one timed run after the outputs are removed and written out (not timed).
run() {
    rm -rf "$work/out"/*
    sync
    if [ "$drop_caches" = 1 ]; then echo 3 >/proc/sys/vm/drop_caches; fi
    local t0 t1
    t0=$(date +%s%N)
    if ! /usr/bin/time -f %M -o "$work/rss" bash -c "$2" >/dev/null 2>"$work/stderr"; then
        echo "$1 failed:" >&2
        cat "$work/stderr" >&2
        exit 1
    fi
    t1=$(date +%s%N)
    echo "$1 $round $((t1 - t0)) $(tail -n 1 "$work/rss")" >>"$results"
}

load_before=$(cut -d ' ' -f 1-3 /proc/loadavg)
for ((round = 0; round < runs; round++)); do
    echo "round $((round + 1)) of $runs" >&2
    # A new order every round, so that no command always follows the same one.
    for i in $(seq 1 $((${#names[@]} - 1)) | shuf --random-source=<(yes "$round")); do
        run "copy-for-${names[$i]}" "$copy"
        run "${names[$i]}" "${commands[$i]}"
    done
done
load_after=$(cut -d ' ' -f 1-3 /proc/loadavg)

bytes=$(stat -c %s "$take")
echo "Take: 32 channels ($silent of them silent), 24 bit, 48 kHz, $seconds s ($bytes bytes) on $(df --output=fstype "$work" | tail -n 1)" \
    "($work); take read from $source_text; copy: \`$copy_text\`."
echo "$(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'); kernel $(uname -r);" \
    "load average $load_before before, $load_after after; $runs rounds."
echo
echo "| Command | Median | MB/s | × copy (median of rounds) | best / worst round | Peak RSS (MiB) |"
echo "|---|---:|---:|---:|---:|---:|"
python3 - "$results" "$bytes" "${names[@]}" <<'REPORT'
import statistics, sys
results, size, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
times, rss = {}, {}
for line in open(results):
    name, run, ns, kib = line.split()
    times.setdefault(name, {})[run] = int(ns)
    rss[name] = max(rss.get(name, 0), int(kib))
def row(name, runs, ratios, kib):
    median = statistics.median_low(sorted(runs))
    print(f"| {name} | {median / 1e6:.0f} ms | {size / (median / 1e9) / 1e6:.0f} | "
          f"{statistics.median_low(ratios):.2f} | {ratios[0]:.2f} / {ratios[-1]:.2f} | "
          f"{kib / 1024:.1f} |")
splits = names[1:]
copies = [times[f"copy-for-{name}"] for name in splits]
row("copy", [ns for copy in copies for ns in copy.values()], [1.0],
    max(rss[f"copy-for-{name}"] for name in splits))
for name, copy in zip(splits, copies):
    runs = times[name]
    row(name, runs.values(), sorted(runs[r] / copy[r] for r in runs), rss[name])
REPORT
