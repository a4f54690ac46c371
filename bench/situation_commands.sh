#!/usr/bin/env bash
# Throughput of the situation commands through the real binary: 1,000 set_range lines of 1,328
# words and 5,000 add_line lines, each batch timed as one run (start-up subtracted).
#   bench/situation_commands.sh [path/to/nlhe-solver]   (default build/nlhe-solver)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-$root/build/nlhe-solver}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import random, sys
work = sys.argv[1]
rng = random.Random(7)
with open(f"{work}/ranges.txt", "w") as f:
    for i in range(1000):
        player = "OOP" if i % 2 == 0 else "IP"
        f.write("set_range " + player + " " +
                " ".join(f"{rng.random():.6f}" for _ in range(1326)) + "\n")
with open(f"{work}/lines.txt", "w") as f:
    for i in range(5000):
        amount, words = 0, []
        for _ in range(rng.randint(1, 8)):
            if rng.random() < 0.6:
                amount += rng.choice((25, 50, 75, 150))
            words.append(str(amount))
        f.write("add_line " + " ".join(words) + "\n")
PY

seconds() {  # wall-clock seconds of one run on the given input
    local start end
    start=$(date +%s.%N)
    "$binary" <"$1" >/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

: >"$work/empty.txt"
base=$(seconds "$work/empty.txt")
ranges=$(seconds "$work/ranges.txt")
lines=$(seconds "$work/lines.txt")
printf 'start-up            %8.3f ms\n' "$(echo "$base * 1000" | bc -l)"
printf 'set_range (1,328 w) %8.3f us per line\n' "$(echo "($ranges - $base) * 1000" | bc -l)"
printf 'add_line            %8.3f us per line\n' "$(echo "($lines - $base) * 200" | bc -l)"
