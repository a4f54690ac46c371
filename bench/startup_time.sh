#!/usr/bin/env bash
# Start-up to first reply: runs `nlhe-solver -c is_ready </dev/null` N times (default 20) and
# prints the median and the slowest wall-clock time in milliseconds.
#   bench/startup_time.sh [N]   (after scripts/build release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$root/build/nlhe-solver
runs=${1:-20}
times=()
for ((i = 0; i < runs; ++i)); do
    start=$(date +%s%N)
    "$binary" -c is_ready </dev/null >/dev/null
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
median=${sorted[$((runs / 2))]}
slowest=${sorted[$((runs - 1))]}
printf 'start-up to first reply: median %d.%03d ms, slowest %d.%03d ms over %d runs\n' \
    $((median / 1000)) $((median % 1000)) $((slowest / 1000)) $((slowest % 1000)) "$runs"
