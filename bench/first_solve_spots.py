#!/usr/bin/env python3
"""Writes the command scripts of the first-solve spots and runs them through the program.

Spots at pot 200 and effective stack 900, both ranges from shorthand, lines from the sizing
rule: on every street a check or a bet of half the pot; against a bet fold, call or one raise
of half the pot after the call, then fold or call; every amount capped at the stack.

  bench/first_solve_spots.py [--binary build/nlhe-solver] [--spots river,turn,...]
        [--levels 0,2] [--threads 1,2,4,8,0] [--simd 8] [--accuracy 0.003] [--write-only DIR]
        [--profile build/bench/river_profile]

Reports per spot, level and thread count: iterations per second, wall time and iterations to
1 %, 0.5 % and 0.3 % of the pot (from the progress summaries), CPU against wall seconds, peak
memory (the verbose peak working set), the latency from go to "SOLVER: started", and the
time of one exploitability check (calc_results right after the solve). --simd lists the
simd levels to run each spot at (set_simd_level first).

With --profile, each spot script runs in-process through the named river_profile program
instead, once per thread count with every simd level: --iterations timed iterations (default
30) after --warmup untimed ones (default 0), reporting iterations per second, CPU milliseconds
per iteration, the stream bytes held after them, kernel calls per width per iteration and the
share of traversal thread time spent in river roots; then a solve by go to --target of the pot
(default 0.005; 0 skips it) with its wall time and iterations; last the peak working set of the
run. A river spot's figures count its river work twice: its root is a river root in both root
passes. --timeout ends a run that takes longer (seconds; default none) and says so.

--speed-table runs the vectorised path's wall-time table through river_profile: the three flop
spots at levels 0 and 2 on all threads, simd levels 1 and 8, each solved by go to 0.5 % of the
pot, printing wall time and iterations (other options still apply when given).

  bench/first_solve_spots.py --speed-table
  bench/first_solve_spots.py --profile build/bench/river_profile --levels 2,3,4 \
        --threads 1,2,4,8 --simd 8 --iterations 10 --warmup 62 --target 0
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

RANKS = "23456789TJQKA"
SUITS = "cdhs"
POT = 200.0
STACK = 900.0

OOP = "66+, A8s+, A5s-A4s, AJo+, K9s+, KQo, QTs+, JTs, 96s+, 85s+, 75s+, 65s, 54s"
IP = ("QQ-22, AQs-A2s, ATo+, K5s+, KJo+, Q8s+, J8s+, T7s+, 96s+, 86s+, 75s+, 64s+, 53s+")

SPOTS = {
    "flop-twotone": "Td 9d 6h",
    "flop-monotone": "Ks 8s 3s",
    "flop-rainbow": "Kd 7c 2h",
    "turn": "Td 9d 6h Qc",
    "river": "Td 9d 6h Qc 3s",
}


def classes(text):
    """Hand classes ("AKs", "AKo", "QQ") named by a shorthand list."""
    out = set()
    for item in (s.strip() for s in text.split(",")):
        if not item:
            continue
        if "-" in item:
            a, b = item.split("-")
            if a[0] == a[1]:  # pairs QQ-22
                lo, hi = sorted((RANKS.index(a[0]), RANKS.index(b[0])))
                out.update(RANKS[r] * 2 for r in range(lo, hi + 1))
            else:  # AQs-A2s: same high card, kicker range
                high, kind = a[0], a[2]
                lo, hi = sorted((RANKS.index(a[1]), RANKS.index(b[1])))
                out.update(high + RANKS[k] + kind for k in range(lo, hi + 1))
        elif item.endswith("+"):
            body = item[:-1]
            if body[0] == body[1]:  # 66+
                out.update(RANKS[r] * 2 for r in range(RANKS.index(body[0]), 13))
            else:  # A8s+, 96s+: kicker up to one below the high card
                high, kind = body[0], body[2]
                for k in range(RANKS.index(body[1]), RANKS.index(high)):
                    out.add(high + RANKS[k] + kind)
        else:
            out.add(item)
    return out


def range_values(text):
    """1326 weights in the canonical combination order (card hi then lo, 4 * rank + suit)."""
    wanted = classes(text)
    values = []
    for hi in range(1, 52):
        for lo in range(hi):
            rh, sh, rl, sl = hi // 4, hi % 4, lo // 4, lo % 4
            if rh == rl:
                name = RANKS[rh] * 2
            else:
                name = RANKS[max(rh, rl)] + RANKS[min(rh, rl)] + ("s" if sh == sl else "o")
            values.append("1" if name in wanted else "0")
    return values


def lines(streets):
    """Cumulative amount sequences of every line that reaches the end of the hand."""
    result = []

    def street(prefix, level, left):
        if left == 0 or level >= STACK:
            result.append(prefix)
            return
        pot = POT + 2 * level
        bet = min(level + pot / 2, STACK)
        raise_to = min(bet + (pot + 2 * (bet - level)) / 2, STACK)
        closing = [[level, level], [bet, bet], [level, bet, bet]]
        if raise_to > bet:
            closing += [[bet, raise_to, raise_to], [level, bet, raise_to, raise_to]]
        for seq in closing:
            street(prefix + seq, seq[-1], left - 1)

    street([], 0.0, streets)
    return result


def fmt(x):
    return ("%.2f" % x).rstrip("0").rstrip(".")


def script(spot, level, threads, accuracy, simd=8):
    board = SPOTS[spot]
    out = ["set_simd_level %d" % simd, "set_board " + board, "set_pot 0 0 %s" % fmt(POT), "set_eff_stack %s" % fmt(STACK),
           "set_range OOP " + " ".join(range_values(OOP)),
           "set_range IP " + " ".join(range_values(IP))]
    for seq in lines(6 - len(board.split())):
        out.append("add_line " + " ".join(fmt(a) for a in seq))
    out += ["set_threads %d" % threads, "set_compression %d" % level,
            "set_accuracy %g fraction" % accuracy, "build_tree", "go", "wait_for_solver",
            "calc_results"]
    return "\n".join(out) + "\n"


def run(binary, text):
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
        f.write(text)
        path = f.name
    start = time.time()
    proc = subprocess.Popen([binary, "-v", path], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                            text=True)
    stamps = []  # (wall seconds since start, line)
    for line in proc.stdout:
        stamps.append((time.time() - start, line.rstrip("\n")))
    proc.wait()
    os.unlink(path)
    return stamps


def report(spot, level, threads, simd, stamps):
    text = [l for _, l in stamps]
    started = next((t for t, l in stamps if l == "SOLVER: started"), None)
    go_ok = next((t for t, l in stamps if l == "go ok!"), None)
    summaries = []
    for i, line in enumerate(text):
        if line == "SOLVER:":
            block = text[i + 1:i + 9]
            vals = dict(re.match(r"(.*): (.*)", b).groups() for b in block if ": " in b)
            cpu = next((b for b in block if b.startswith("[cpu")), "")
            summaries.append((float(vals["running time"]), float(vals["Exploitable for"]), cpu))
    iters = [int(m.group(1)) for l in text for m in [re.match(r"\[?#?(\d+) iterations", l)] if m]
    print("%-14s level %d threads %-2d simd %d" % (spot, level, threads, simd))
    for target in (0.01, 0.005, 0.003):
        hit = next((s for s in summaries if s[1] <= target * POT), None)
        print("   %.1f %% of pot: %s" % (target * 100, "%.2f s" % hit[0] if hit else "not reached"))
    if summaries:
        print("   last summary: %.2f s, exploitable %.3f, %s" % summaries[-1])
    if started is not None and go_ok is not None:
        print("   go to started: %.3f s" % max(0.0, started - go_ok))
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", default="build/nlhe-solver")
    ap.add_argument("--spots", default=",".join(SPOTS))
    ap.add_argument("--levels", default="0,2")
    ap.add_argument("--threads", default="1,2,4,8,0")
    ap.add_argument("--accuracy", type=float, default=0.003)
    ap.add_argument("--simd", default="8")
    ap.add_argument("--write-only", metavar="DIR")
    ap.add_argument("--profile", metavar="RIVER_PROFILE")
    ap.add_argument("--iterations", type=int, default=30)
    ap.add_argument("--warmup", type=int, default=0)
    ap.add_argument("--target", type=float, default=0.005)
    ap.add_argument("--timeout", type=float)
    ap.add_argument("--speed-table", action="store_true")
    args = ap.parse_args()
    if args.speed_table:
        given = set(a.split("=")[0] for a in sys.argv[1:])
        for option, value in (("--profile", "build/bench/river_profile"),
                              ("--spots", "flop-twotone,flop-monotone,flop-rainbow"),
                              ("--levels", "0,2"), ("--threads", "0"), ("--simd", "1,8"),
                              ("--iterations", 0), ("--target", 0.005)):
            if option not in given:
                setattr(args, option[2:], value)
    simds = [int(x) for x in args.simd.split(",")]
    for spot in args.spots.split(","):
        for level in (int(x) for x in args.levels.split(",")):
            for threads in (int(x) for x in args.threads.split(",")):
                if args.profile:
                    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
                        f.write(script(spot, level, threads, args.accuracy))
                    print("%-14s level %d" % (spot, level))
                    sys.stdout.flush()
                    try:
                        subprocess.run([args.profile, f.name, args.simd, str(args.iterations),
                                        str(args.target), str(args.warmup)],
                                       timeout=args.timeout)
                    except subprocess.TimeoutExpired:
                        print("   timed out after %g s" % args.timeout)
                    os.unlink(f.name)
                    sys.stdout.flush()
                    continue
                for simd in simds:
                    text = script(spot, level, threads, args.accuracy, simd)
                    if args.write_only:
                        os.makedirs(args.write_only, exist_ok=True)
                        name = "%s-l%d-t%d-s%d.txt" % (spot, level, threads, simd)
                        with open(os.path.join(args.write_only, name), "w") as f:
                            f.write(text)
                        continue
                    report(spot, level, threads, simd, run(args.binary, text))


if __name__ == "__main__":
    main()
