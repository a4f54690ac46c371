#!/usr/bin/env python3
"""Memory and time of forgetting streets and of the re-solves behind queries on the first-solve
flop spots, through the real program.

Per flop spot and compression level, after `go <n> steps` (default 20):
  resident memory (VmRSS) after the solve, after `forget rivers`, after `rebuild_all`;
  the time of `forget rivers` and `rebuild_all`;
  the first and second river query (show_strategy on two river cards of one turn, so the second
  reuses the subtree's storages) and the same runout again, at recalc accuracy 0.5 % of the pot
  and at 0 (where a re-solve runs its 1000 iterations unless its check reaches 0), each with its
  time, the iterations its re-solve ran (0: none ran) and the memory it adds (the first query of
  a subtree makes its storages);
  then on a fresh solve `forget turns` and the first and second turn query the same way.

The commands run in forget_probe (bench/forget_probe.cpp), the program's command loop that
prints the re-solve counters after each command.

  bench/forget_streets.py [--probe build/bench/forget_probe] [--spots flop-rainbow,...]
        [--levels 0,2] [--steps 20] [--threads 8]
"""
import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import first_solve_spots as fs  # noqa: E402

PROBE = "@probe "
RIVER = "r:0:c:c:Qs:c:c:%s"
TURN = "r:0:c:c:%s"


class Program:
    def __init__(self, probe):
        self.proc = subprocess.Popen([probe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, bufsize=1)
        self.counts = (0, 0)
        self.iterations = 0  # re-solve iterations of the last command

    def do(self, command):
        """Runs one command; returns (seconds, reply lines)."""
        start = time.time()
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        out = []
        for line in self.proc.stdout:
            line = line.rstrip("\n")
            if line.startswith(PROBE):
                counts = tuple(int(x) for x in line[len(PROBE):].split())
                self.iterations = counts[1] - self.counts[1]
                self.counts = counts
                break
            out.append(line)
        return time.time() - start, out

    def rss_mb(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
        return 0.0

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def setup(spot, level, threads, steps):
    board = fs.SPOTS[spot]
    out = ["set_board " + board, "set_pot 0 0 %s" % fs.fmt(fs.POT),
           "set_eff_stack %s" % fs.fmt(fs.STACK),
           "set_range OOP " + " ".join(fs.range_values(fs.OOP)),
           "set_range IP " + " ".join(fs.range_values(fs.IP)), "clear_lines"]
    for seq in fs.lines(6 - len(board.split())):
        out.append("add_line " + " ".join(fs.fmt(a) for a in seq))
    out += ["set_threads %d" % threads, "set_compression %d" % level, "build_tree",
            "go %d steps" % steps, "wait_for_solver"]
    return out


def queries(p, paths, accuracy):
    p.do("set_recalc_accuracy %g %g %g" % (accuracy, accuracy, accuracy))
    rows = []
    for label, path in paths:
        before = p.rss_mb()
        seconds, _ = p.do("show_strategy " + path)
        rows.append((label, seconds, p.iterations, p.rss_mb() - before))
    for label, seconds, iterations, grown in rows:
        print("   %-28s %8.3f s  %4d iterations  %+8.1f MB" % (label, seconds, iterations, grown))


def bench(probe, spot, level, threads, steps):
    print("%s level %d, %d threads, %d iterations" % (spot, level, threads, steps))
    for street in ("rivers", "turns"):
        p = Program(probe)
        for command in setup(spot, level, threads, steps):
            p.do(command)
        solved = p.rss_mb()
        seconds, reply = p.do("forget " + street)
        forgotten = p.rss_mb()
        print("  forget %-6s %8.3f s  (%s)  VmRSS %.1f MB -> %.1f MB (-%.1f MB)" % (
            street, seconds, reply[0] if reply else "", solved, forgotten, solved - forgotten))
        for accuracy in (0.005, 0.0):
            print("  queries at recalc accuracy %g of the pot" % accuracy)
            if street == "rivers":
                cards = ("3h", "4h") if accuracy else ("5c", "8h")
                paths = [("first river query", RIVER % cards[0]),
                         ("second river, same turn", RIVER % cards[1]),
                         ("first river again", RIVER % cards[0])]
            else:
                cards = ("Qs", "Jc") if accuracy else ("4c", "5h")
                paths = [("first turn query", TURN % cards[0]),
                         ("second turn query", TURN % cards[1]),
                         ("first turn again", TURN % cards[0])]
            queries(p, paths, accuracy)
        if street == "rivers":
            seconds, _ = p.do("rebuild_all")
            print("  rebuild_all    %8.3f s  VmRSS %.1f MB" % (seconds, p.rss_mb()))
        p.close()
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", default="build/bench/forget_probe")
    ap.add_argument("--spots", default="flop-twotone,flop-monotone,flop-rainbow")
    ap.add_argument("--levels", default="0,2")
    ap.add_argument("--steps", type=int, default=20)
    ap.add_argument("--threads", type=int, default=8)
    args = ap.parse_args()
    for spot in args.spots.split(","):
        for level in (int(x) for x in args.levels.split(",")):
            bench(args.probe, spot, level, args.threads, args.steps)


if __name__ == "__main__":
    main()
