#!/usr/bin/env python3
"""Time of show_strategy, set_strategy and lock_node on flop, turn and river nodes of a standard
flop spot, per compression level, with the solver idle and while it runs (the wait for the solver
mutex included). Each command runs REPEAT times between two solver_time readings; the figure is
milliseconds per command. show_memory before and after the batches shows that a river query
leaves no turn unpacked (the memory figures do not grow).

    bench/strategy_commands.py [path/to/nlhe-solver] [--levels 0,1,2] [--repeat 20]
"""
import argparse
import pathlib
import subprocess
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent

RANKS = "23456789TJQKA"
SUITS = "cdhs"


def hand_order():
    cards = [r + s for r in RANKS for s in SUITS]  # user numbering 4 * rank + suit
    return [cards[hi] + cards[lo] for hi in range(1, 52) for lo in range(hi)]


def range_line(player, weight):
    return "set_range %s %s" % (player, " ".join("%g" % weight(h) for h in hand_order()))


def oop_weight(h):
    a, b = RANKS.index(h[0]), RANKS.index(h[2])
    return 1.0 if a == b or min(a, b) >= 7 or (max(a, b) == 12) else 0.3


def ip_weight(h):
    a, b = RANKS.index(h[0]), RANKS.index(h[2])
    return 1.0 if a == b or abs(a - b) <= 2 or max(a, b) >= 10 else 0.0


NODES = {
    "flop": "r:0",
    "turn": "r:0:b50:c:Qc",
    "river": "r:0:b50:c:Qc:b150:c:5d",
}


def script(level, repeat, solving):
    half = " ".join(["0.5"] * 1326)
    lines = [
        "set_board Ks 7h 2d",
        range_line("OOP", oop_weight),
        range_line("IP", ip_weight),
        "add_line 0 50 50 50 50 50 50",
        "add_line 50 50 150 150 250 250",
        "add_line 50 50 50 50 50 50",
        "add_line 50 50 150 150 150 250 250",
        "add_line 50 50 50 150 150 150 150",
        "build_tree",
        "set_compression %d" % level,
        "go 30 steps",
        "wait_for_solver",
    ]
    if solving:
        lines.append("go 1000000 steps")
    lines.append("show_memory")
    for street, path in NODES.items():
        for command in ("show_strategy %s" % path, "set_strategy %s 0 %s" % (path, half),
                        "lock_node %s" % path):
            lines.append("solver_time")
            lines.extend([command] * repeat)
            lines.append("solver_time")
    lines.append("show_memory")
    if solving:
        lines.append("stop")
        lines.append("wait_for_solver")
    return "\n".join(lines) + "\n"


def run(binary, text):
    with tempfile.NamedTemporaryFile("w", suffix=".txt") as f:
        f.write(text)
        f.flush()
        with open(f.name) as stdin:
            out = subprocess.run([binary], stdin=stdin, capture_output=True, text=True).stdout
    return out.splitlines()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary", nargs="?", default=str(ROOT / "build" / "nlhe-solver"))
    parser.add_argument("--levels", default="0,1,2")
    parser.add_argument("--repeat", type=int, default=20)
    args = parser.parse_args()
    for level in [int(x) for x in args.levels.split(",")]:
        for solving in (False, True):
            out = run(args.binary, script(level, args.repeat, solving))
            times = []
            for line in out:
                try:
                    if "." in line and " " not in line:
                        times.append(float(line))
                except ValueError:
                    pass
            labels = [(s, c) for s in NODES for c in ("show_strategy", "set_strategy", "lock_node")]
            state = "solving" if solving else "idle"
            for i, (street, command) in enumerate(labels):
                if 2 * i + 1 >= len(times):
                    break
                ms = (times[2 * i + 1] - times[2 * i]) * 1000.0 / args.repeat
                print("level %d %-7s %-5s %-13s %9.3f ms" % (level, state, street, command, ms))
            memory = [line for line in out if "MB" in line or "memory" in line.lower()]
            for line in memory:
                print("    " + line)


if __name__ == "__main__":
    main()
