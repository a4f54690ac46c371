#!/usr/bin/env python3
"""Random command sessions through the real binary.

Each session (seeded, so a failure replays) builds a small tree, then runs commands drawn from
every command word with valid and invalid arguments, a running solver, redirections and loads of
damaged saved trees. It is fed three ways: as -c options, as a script file and on standard
input, with is_ready appended, under a time limit. A session fails on a hang, a signal or a
non-zero status, a sanitizer report, a reply line that no command writes, or a missing
"is_ready ok!".

    session_fuzz.py --binary BIN [--first-seed N] [--sessions N | --seconds S] [--jobs N]
                    [--shrink] [--keep DIR] [--avoid LIST] [--show SEED]
"""
import argparse
import concurrent.futures
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = [os.path.join(HERE, "saved_trees", n)
          for n in ("river_v1.qx7", "river_v3.qx7", "river_v5.qx7", "flop_v7.qx7")]

WORDS = """is_ready solver_time skip_if_done load_script clear_lines free_schematic_tree add_line
remove_line force_line build_tree cut_line qx7_set_compression set_compression
qx7_get_actual_compression get_actual_compression load_tree free_tree reset_tree_info
add_info_line show_tree_info show_settings show_tree_params set_threads qx7_set_threads
set_recalc_accuracy set_isomorphism set_range set_board set_pot set_eff_stack set_accuracy
qx7_get_instruction_set get_instruction_set set_scheduler enable_avx512 enable_river_strategy
ignore_mem_check set_simd_level is_tree_present go stop calc_results wait_for_solver show_memory
node_count forget rebuild_forgotten_streets rebuild_all solve_all_splits solve_partial
explo_partial sleep take_a_break show_range show_probs calc_ev calc_ev_pp calc_ev_line
calc_line_freq calc_global_freq stdoutredi stdoutredi_append stdoutback repeat echo show_cpu_info
help show_hand_order show_node show_children show_effective_stack set_rake show_strategy
show_strategy_pp show_locked_combos lock_node unlock_node set_strategy combo_lock_node
set_ev_boost calc_eq calc_eq_pp calc_eq_node show_category_names show_categories""".split()
assert len(WORDS) == 85 and len(set(WORDS)) == 85

# Faults the generator can steer around (--avoid), for a build that predates their mends.
KNOWN = {
    "batch-hold": "-c batches never hold blocking or direct-writing commands after go or stop",
    "splits-twice": "solve_all_splits runs at most once per tree",
    "forget-level": "no forget after a compression change on a built tree",
    "empty-path": "no node path with an empty element",
}
DEFAULT_AVOID = ""

RANKS = "23456789TJQKA"
SUITS = "cdhs"
CARDS = [r + s for r in RANKS for s in SUITS]  # index = rank * 4 + suit
BLOCKING = {"wait_for_solver", "take_a_break", "show_cpu_info", "exit", "load_script", "sleep",
            "skip_if_done", "stop"}


def combo_index(a, b):
    hi, lo = max(a, b), min(a, b)
    return hi * (hi - 1) // 2 + lo


# ---------------------------------------------------------------- session generation


class Spot:
    """The tree the set-up builds: board, pot, ranges and the node paths of its lines."""

    def __init__(self, rng):
        n = rng.choice([3, 3, 4, 4, 5])
        self.board = rng.sample(CARDS, n)
        self.pot = rng.choice([20, 50, 100, 100, 200])
        self.scattered = rng.random() < 0.25
        self.ranges = [self.make_range(rng), self.make_range(rng)]
        self.streets = 6 - n  # streets to play: flop 3, turn 2, river 1
        self.lines = [self.make_line(rng) for _ in range(rng.randint(1, 4))]
        self.paths = {"r", "r:0"}
        self.decisions = {"r:0"}
        self.actions = set()
        for line in self.lines:
            self.add_paths(rng, line)
        # The nodes of the golden saved tree, for the sessions that load it.
        self.paths.update(["r:0:b50", "r:0:c", "r:0:b50:c", "r:0:b50:f", "r:0:c:c"])
        self.decisions.update(["r:0:b50", "r:0:c"])
        self.actions.update(["r:0:b50", "r:0:c", "r:0:b50:c", "r:0:b50:f", "r:0:c:c"])

    def make_range(self, rng):
        """Whole hand classes, so every isomorphism accepts the range; or, for the sessions
        that turn isomorphism off, scattered combinations of any weight."""
        weights = [0] * 1326
        if self.scattered:
            for i in rng.sample(range(1326), rng.randint(20, 60)):
                weights[i] = rng.choice(["1", "0.3", "7"])
            return [str(w) for w in weights]
        for _ in range(rng.randint(3, 8)):
            r1, r2 = rng.randrange(13), rng.randrange(13)
            suited = rng.random() < 0.5
            w = rng.choice(["1", "1", "0.5", "3"])
            for s1 in range(4):
                for s2 in range(4):
                    a, b = r1 * 4 + s1, r2 * 4 + s2
                    if a == b or (r1 == r2 and s1 > s2):
                        continue
                    if r1 != r2 and (s1 == s2) != suited:
                        continue
                    weights[combo_index(a, b)] = w
        return [str(w) for w in weights]

    def make_line(self, rng):
        """Cumulative amounts, OOP first on every street; the last street may end on a bet."""
        amounts, level = [], 0
        for street in range(rng.randint(1, self.streets)):
            bet = max(1, int(self.pot * rng.choice([0.25, 0.5, 0.75, 1.0])))
            shape = rng.choice(["xx", "bc", "xbc", "brc", "b"])
            if shape == "xx":
                amounts += [level, level]
            elif shape == "bc":
                amounts += [level + bet, level + bet]
            elif shape == "xbc":
                amounts += [level, level + bet, level + bet]
            elif shape == "brc":
                amounts += [level + bet, level + 3 * bet, level + 3 * bet]
            else:
                amounts += [level + bet]
                break
            level = amounts[-1]
        return amounts

    def add_paths(self, rng, line):
        path, bets, player, dealt = "r:0", 0, 0, set(self.board)
        mine = [0, 0]
        for i, amount in enumerate(line):
            if amount == mine[1 - player]:
                element, closes = "c", bets > 0 or player == 1
            else:
                element, closes = "b%d" % amount, False
                bets += 1
            path += ":" + element
            self.paths.add(path)
            self.actions.add(path)
            if element != "c":
                self.paths.update([path + ":f", path + ":c"])
                self.actions.update([path + ":f", path + ":c"])
            mine[player] = amount
            if not closes:
                self.decisions.add(path)
                player = 1 - player
            elif i + 1 < len(line):
                # The next street: its card (unless the board holds it), OOP to act.
                if len(dealt) < 5:
                    card = rng.choice([c for c in CARDS if c not in dealt])
                    dealt.add(card)
                    path += ":" + card
                    self.paths.add(path)
                self.decisions.add(path)
                bets, player = 0, 0


class Gen:
    def __init__(self, seed, avoid):
        self.rng = random.Random(seed)
        self.avoid = avoid
        self.spot = Spot(self.rng)
        self.texts = set()  # free text the session itself asks to be printed
        self.files = {}  # name -> bytes
        self.dirs = ["adir"]
        self.unbounded = False  # a solve may be running with no budget
        self.split_done = False
        self.level_changed = False

    # -- argument pieces
    def card(self):
        r = self.rng
        if r.random() < 0.3:
            return r.choice(self.spot.board)
        c = r.choice(CARDS)
        return c.lower() if r.random() < 0.2 else c

    def player(self):
        if self.rng.random() < 0.8:
            return self.rng.choice(["OOP", "IP", "hero", "villain"])
        return self.rng.choice(["oop", "X", "2", "-", "OOPX"])

    def bad_number(self):
        return self.rng.choice(["x", "nan", "inf", "-inf", "1e400", "-1e400", "99999999999999999999",
                                "-99999999999999999999", "2147483648", "-2147483649", "-1", "-5",
                                "0x1f", "1e9", "--3", "", "+", ".", "1,5", "7abc", self.long_word()])

    def long_word(self):
        n = self.rng.choice([300, 1000, 5000, 70000])
        return self.rng.choice("aZ9%#x") * n

    def num(self, lo, hi, real=False):
        r = self.rng
        if r.random() < 0.15:
            return self.bad_number()
        v = r.uniform(lo, hi) if real else r.randint(lo, hi)
        return ("%.3g" % v) if real else str(v)

    def path(self, valid=0.75, kind="any"):
        r, s = self.rng, self.spot
        if r.random() < valid:
            pool = {"any": s.paths, "decision": s.decisions, "action": s.actions}[kind]
            return r.choice(sorted(pool))
        bad = [
            "x", "r:9", "r:0:b99999", "r:0:" + r.choice(s.board), "r:0:c:c:c:c:c:c:c:c:c",
            "R:0", "r:0:f", "r:0:b", "r:0:bx", "r:0:b-5", "r:0:c:" + self.card() + self.card(),
            "r:0:b1e400", "r:0:bnan", self.long_word(), "r:" + "c:" * 300 + "c", "::", "r:",
            "r:0:", ":r", "r:0:c:" + self.card(),
        ]
        if "empty-path" not in self.avoid:
            bad += ["r::0", "r:0:::c", "r:0:" + ":" + "c"]
        p = r.choice(bad)
        if "empty-path" in self.avoid and re.search(r"::|:$|^:", p):
            p = "r:0:zz"
        return p

    def values1326(self, kind="weight"):
        r = self.rng
        if kind == "weight":
            base = self.spot.ranges[r.randrange(2)]
        elif kind == "mask":
            base = [r.choice(["0", "1", "0", "0"]) for _ in range(1326)]
        else:
            base = [r.choice(["0", "1", "0.5", "0.25", "2"]) for _ in range(1326)]
        vals = list(base)
        if r.random() < 0.2:
            i = r.randrange(1326)
            vals[i] = r.choice(["x", "nan", "inf", "-1", "1e400", "-0", "1e-9"])
        return vals

    def bad_file(self):
        return self.rng.choice(["missing.txt", "adir", "/dev/null", "nodir/x.txt", "rnd.bin",
                                "cut.qx7", "empty.bin", "\"with blank.txt\""])

    # -- one command line
    def command(self, word, in_batch=False):
        r, s = self.rng, self.spot
        ok = r.random() < 0.75
        a = []
        if word in ("is_ready", "solver_time", "clear_lines", "free_schematic_tree", "build_tree",
                    "qx7_get_actual_compression", "get_actual_compression", "free_tree",
                    "reset_tree_info", "show_tree_info", "show_settings", "show_tree_params",
                    "qx7_get_instruction_set", "get_instruction_set", "is_tree_present", "stop",
                    "calc_results", "show_memory", "node_count", "rebuild_forgotten_streets",
                    "rebuild_all", "stdoutback", "show_cpu_info", "help", "show_hand_order",
                    "show_effective_stack", "show_category_names", "wait_for_solver"):
            if not ok and r.random() < 0.5:
                a = [r.choice(["x", "1", "#", self.long_word()])]
        elif word == "skip_if_done":
            label = r.choice(["L1", "L2", "done"])
            f = r.choice(["here.txt", "missing.txt", "adir", "/dev/null"])
            a = [f, label] if ok else [f]
        elif word == "load_script":
            a = [r.choice(["s1.txt", "s2.txt", "self.txt", "waits.txt"])] if ok else [self.bad_file()]
            if not ok and r.random() < 0.3:
                a.append("extra")
        elif word in ("add_line", "force_line", "remove_line"):
            if ok:
                a = [str(x) for x in r.choice(s.lines)]
                if word == "remove_line":
                    a = a[: r.randint(1, len(a))]
            else:
                a = r.choice([[], ["50", "20"], ["x"], [self.bad_number()], ["0"] * r.randint(7, 60),
                              ["-1"], ["1e300", "1e300"], ["0", "nan"], ["0", "inf", "inf"]])
        elif word == "cut_line":
            a = [self.path(0.5)]
        elif word in ("set_compression", "qx7_set_compression"):
            a = [r.choice(["0", "1", "2", "3", "4", "-1", "9", "-7", "auto", "none", "low", "medium",
                           "high", "max", "x", "nan", "99999999999"])]
            self.level_changed = True
        elif word == "load_tree":
            a = [r.choice(["g.qx7", "cut.qx7", "cut2.qx7", "rnd.bin", "hdr.bin", "empty.bin",
                           "adir", "/dev/null", "missing.qx7"])]
        elif word == "add_info_line":
            t = r.choice(["note", "\"two words\"", "%s%d", "x" * 300, "solved"])
            a = [t]
            self.texts.add(t.strip('"'))
        elif word in ("set_threads", "qx7_set_threads"):
            # Not 0 or below (every processor): on a loaded machine that slows the re-solves
            # of solve_all_splits by orders of magnitude.
            a = [r.choice(["1", "2", "2", "3"]) if ok else r.choice(["x", "nan", "99999999999", "inf"])]
        elif word == "set_recalc_accuracy":
            a = [self.num(0, 0.05, True) for _ in range(3)]
        elif word == "set_isomorphism":
            a = [r.choice(["0", "1"]), r.choice(["0", "1", "x"])]
        elif word == "set_range":
            a = [self.player()] + self.values1326("weight")
            if not ok:
                a = a[: r.choice([2, 1000, 1326])]
        elif word == "set_board":
            if ok:
                a = list(s.board)
            else:
                a = r.choice([[self.card() for _ in range(r.choice([1, 2, 6]))],
                              [self.card(), self.card(), self.card(), self.card()],
                              [s.board[0], s.board[0], self.card()],
                              ["AhKd2c"], ["Xx", "2c", "3c"], [self.card() * 2, "2c", "3c"]])
        elif word == "set_pot":
            a = [self.num(0, 50), self.num(0, 50), self.num(1, 300)] if ok else [self.bad_number()] * 3
        elif word == "set_eff_stack":
            a = [r.choice(["100", "x", "-5"])]
        elif word == "set_accuracy":
            a = r.choice([["0"], ["0.5"], ["0.01", "fraction"], ["-1"], [self.bad_number()],
                          [], ["0.1", "fraction", "x"], ["5", "percent"]])
        elif word in ("set_scheduler", "enable_avx512", "enable_river_strategy"):
            a = [r.choice(["0", "1", "1", "2", "x"])]
            if word == "enable_river_strategy":
                a = [r.choice(["1", "1", "1", "0", "x"])]
        elif word == "ignore_mem_check":
            a = [r.choice(["on", "off", "x"])]
        elif word == "set_simd_level":
            a = [r.choice(["1", "4", "8", "0", "9", "x", "-3"])]
        elif word == "go":
            c = r.random()
            if c < 0.5:
                a = [str(r.randint(1, 15)), "steps"]
            elif c < 0.7:
                a = [r.choice(["1", "1", "2"]), "seconds"]
            elif c < 0.8:
                a = []
                self.unbounded = True
            else:
                a = r.choice([["5"], ["x", "steps"], ["5", "minutes"], ["-3", "steps"],
                              ["0", "steps"], ["99999999999", "steps"], ["nan", "seconds"]])
                if a[0] == "0":
                    self.unbounded = True
        elif word in ("forget", "solve_all_splits"):
            a = [r.choice(["rivers", "turns", "rivers", "flops", "x"])]
        elif word in ("solve_partial", "explo_partial"):
            a = [self.path(0.8, "decision")]
        elif word == "sleep":
            a = [r.choice(["0", "1", "20", "100"]) if ok else r.choice(["-1", "x", "99999999999", "nan"])]
        elif word == "take_a_break":
            a = [r.choice(["0", "0", "1"]) if ok else r.choice(["-1", "x", "99999999999", "inf"])]
        elif word == "show_range":
            a = [self.player()] + ([self.path()] if r.random() < 0.6 else [])
        elif word in ("show_probs", "calc_line_freq", "calc_global_freq", "show_node",
                      "show_children", "show_strategy", "show_strategy_pp", "show_locked_combos",
                      "lock_node", "unlock_node"):
            kind = "decision" if word in ("show_strategy", "show_strategy_pp", "lock_node") else "any"
            a = [self.path(0.8, kind)]
        elif word in ("calc_ev", "calc_ev_pp", "calc_ev_line", "calc_eq_node"):
            a = [self.player(), self.path()]
        elif word in ("calc_eq", "calc_eq_pp"):
            a = [self.player()]
        elif word in ("stdoutredi", "stdoutredi_append"):
            a = [r.choice(["out1.txt", "out2.txt", "out1.txt", "adir", "nodir/x.txt", "/dev/null"])]
        elif word == "repeat":
            n = r.choice(["1", "3", "2", "0", "-1", "x", "100000", "500"])
            words = r.choice([["hello"], ["a", "b"], ["#hidden"], ["%s%n"]])
            a = [n] + words
        elif word == "echo":
            t = r.choice(["hi", "%s%d%n", "\"a  b\"", "#quiet", "END", "x" * 2000])
            a = [t] + (["more"] if r.random() < 0.3 else [])
        elif word == "set_rake":
            a = [self.num(0, 1, True), self.num(0, 10)]
        elif word == "set_strategy":
            a = [self.path(0.8, "decision"), r.choice(["0", "1", "2", "-1", "x"])] + self.values1326("prob")
            if not ok:
                a = a[: r.choice([3, 1000])]
        elif word == "combo_lock_node":
            a = [self.path(0.8, "decision")] + self.values1326("mask")
            if not ok:
                a = a[:100]
        elif word == "set_ev_boost":
            a = [self.path(0.8, "action"), r.choice(["0", "0.5", "-0.99", "1", "-1", "2", "nan", "x"])]
        elif word == "show_categories":
            a = r.choice([[self.card() for _ in range(r.randint(1, 6))], ["".join(s.board)],
                          ["AhKd2c"], ["AhAh2c"], ["zz"]])
        else:
            raise AssertionError(word)
        if not ok and r.random() < 0.15:
            a = a + ["extra"]
        if word == "repeat":
            self.texts.add(" ".join(a[1:]))
        elif word == "echo":
            self.texts.add(a[0].strip('"'))
        return " ".join([word] + a)

    def setup(self):
        s, r = self.spot, self.rng
        lines = ["set_threads 2", "set_pot 0 0 %d" % s.pot, "set_board " + " ".join(s.board),
                 "set_range OOP " + " ".join(s.ranges[0]), "set_range IP " + " ".join(s.ranges[1])]
        if r.random() < 0.3:
            lines.append("set_compression %d" % r.choice([0, 2, 4]))
        if s.scattered:
            lines.append("set_isomorphism 0 0")
        if r.random() < 0.1:
            lines.append("enable_river_strategy 0")
        lines += ["add_line " + " ".join(map(str, l)) for l in s.lines]
        lines.append("build_tree")
        return lines

    def session(self, length):
        r = self.rng
        cmds = self.setup()
        weights = {w: 1.0 for w in WORDS}
        for w in ("go", "stop", "wait_for_solver", "show_node", "show_strategy", "calc_ev"):
            weights[w] = 4.0
        for w in ("forget", "rebuild_all", "solve_all_splits", "lock_node", "set_strategy",
                  "combo_lock_node", "load_tree", "stdoutredi", "stdoutback", "build_tree"):
            weights[w] = 2.0
        population, wts = list(weights), list(weights.values())
        while len(cmds) < length:
            x = r.random()
            if x < 0.04:
                cmds.append(r.choice(["", "   ", "# comment", "#", "LABEL: L1", "LABEL: L2",
                                      "LABEL:", "\"is_ready\"", "is_ready\tx", "nonsense",
                                      "ERROR:", self.long_word(), "SHOW_NODE r"]))
                continue
            word = r.choices(population, wts)[0]
            if word in ("wait_for_solver", "load_script") and self.unbounded:
                cmds.append("stop")
                self.unbounded = False
            if word == "solve_all_splits" and "splits-twice" in self.avoid:
                if self.split_done:
                    continue
                self.split_done = True
            if word in ("build_tree", "load_tree", "cut_line", "free_tree"):
                self.split_done = False
            if word == "forget" and "forget-level" in self.avoid and self.level_changed:
                continue
            cmds.append(self.command(word))
            if cmds[-1] == "stop":
                self.unbounded = False
            # Most edits that drop the tree are followed by a rebuild, so most commands meet one.
            if word in ("add_line", "force_line", "remove_line", "clear_lines",
                        "free_schematic_tree", "free_tree", "load_tree", "cut_line",
                        "set_board", "set_range") and r.random() < 0.7:
                if self.unbounded or r.random() < 0.6:
                    cmds += ["stop", "wait_for_solver"]
                    self.unbounded = False
                cmds += self.restore()
        return cmds

    def restore(self):
        s = self.spot
        lines = ["clear_lines"] + ["add_line " + " ".join(map(str, l)) for l in s.lines]
        return ["set_board " + " ".join(s.board), "set_range OOP " + " ".join(s.ranges[0]),
                "set_range IP " + " ".join(s.ranges[1])] + lines + ["build_tree"]


def script_files(gen):
    r = gen.rng
    left_out = {"load_script", "skip_if_done", "stdoutredi", "stdoutredi_append", "go"}
    if "splits-twice" in gen.avoid:
        left_out.add("solve_all_splits")
    spare = [gen.command(w) for w in r.sample(WORDS, 6) if w not in left_out]
    files = {
        "s1.txt": "\n".join(spare[:3]) + "\n",
        "s2.txt": "\r\n".join(["is_ready", "load_script s1.txt"] + spare[3:]),  # no last line end
        "self.txt": "load_script self.txt\n",
        "waits.txt": "go 2 steps\nwait_for_solver\nis_ready\n",
        "here.txt": "",
        "empty.bin": "",
        "with blank.txt": "is_ready\n",
    }
    out = {k: v.encode() for k, v in files.items()}
    golden = open(r.choice(GOLDEN), "rb").read()
    out["g.qx7"] = golden
    out["cut.qx7"] = golden[: r.randrange(len(golden))]
    flipped = bytearray(golden)
    for _ in range(r.randint(1, 8)):
        flipped[r.randrange(len(flipped))] = r.randrange(256)
    out["cut2.qx7"] = bytes(flipped[: r.randrange(len(flipped) // 2, len(flipped) + 1)])
    out["rnd.bin"] = bytes(r.randrange(256) for _ in range(r.randint(1, 600)))
    out["hdr.bin"] = b"QX7:" + bytes(r.randrange(256) for _ in range(r.randint(0, 300)))
    return out


class Session:
    def __init__(self, seed, avoid):
        gen = Gen(seed, avoid)
        self.seed = seed
        self.commands = gen.session(gen.rng.randint(20, 200))
        self.files = script_files(gen)
        self.texts = gen.texts
        self.labels = sorted(set(c.split()[2] for c in self.commands
                                 if c.startswith("skip_if_done ") and len(c.split()) > 2))
        self.exit_at_end = gen.rng.random() < 0.1
        self.avoid = avoid

    def tail(self):
        if self.exit_at_end:
            return ["exit"]
        return ["LABEL: %s" % l for l in self.labels] + ["stdoutback", "is_ready"]


# ---------------------------------------------------------------- reply classification

NUM = r"[-+]?(?:nan|inf|(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)"
CARD = r"[2-9TJQKA][cdhs]"
COMBO = CARD + CARD
FIXED = [
    r"END", r"Invalid value", r"ERROR: .*", r"SOLVER: started",
    r"SOLVER: stopped \((required accuracy reached|required number of steps done|timeout reached|requested)\)",
    r"SOLVER:", r"running time: " + NUM, r"EV OOP: " + NUM, r"EV IP: " + NUM,
    r"OOP's MES: " + NUM, r"IP's MES: " + NUM, r"Exploitable for: " + NUM,
    NUM, r"(AVX2|AVX|SSE3)", r"compression -?\d", r"true", r"false",
    r"Total Physical Memory: \d+ MB", r"Available Phys Memory: \d+ MB",
    r"(H_DEC|V_DEC|SPLIT|END|ROOT): \d+", r"(FLOP|TURN|RIVER) +\d+", r"TOTAL: \d+",
    r"r(:[^:\s]+)*", r"(ROOT|SPLIT_NODE|OOP_DEC|IP_DEC|END_NODE)", r"(%s ){2,4}%s" % (CARD, CARD),
    r"%s %s %s" % (NUM, NUM, NUM), r"\d+ children", r"flags:( [A-Z_0-9]+)* ?", r"child \d+:",
    r"board:( %s){3,5}" % CARD, r"pot: %s %s %s" % (NUM, NUM, NUM), r"bet_sizes: ",
    r"donk_bet: FALSE", r"OOP %s IP %s( (b\d+|c|f) %s)* ?" % (NUM, NUM, NUM),
    r"%s: ( +%s)+" % (COMBO, NUM), r"%s: %s; %s" % (COMBO, NUM, NUM),
    r"(\[[x ]\] .{13})+ *", r"nlhe-solver \d+ - .*",
    # diagnostic lines, let through in a -c batch after show_tree_info
    r"#-?\d+ iterations", r"#storage -?\d+ MB/s read, -?\d+ MB/s write",
    r"#auto compression level -?\d+", r"#actions max \d+ avg " + NUM,
]
FIXED_RE = re.compile("|".join("(?:%s)" % p for p in FIXED))
NUM_RE = re.compile(NUM)
COMBO_RE = re.compile(COMBO)
OK_RE = re.compile(r"(\S+) ok!")


class Classifier:
    def __init__(self, binary):
        """Lines that depend on the machine or the golden files, read from the binary once."""
        self.extra = set(WORDS)
        out = subprocess.run([binary, "-c", "show_cpu_info", "-c", "help", "-c",
                              "show_category_names"], capture_output=True, timeout=60).stdout
        self.extra.update(out.decode("latin-1").split("\n"))
        for g in GOLDEN:
            out = subprocess.run([binary], input=("load_tree %s\nshow_tree_info\n" % g).encode(),
                                 capture_output=True, timeout=60).stdout
            self.extra.update(out.decode("latin-1").split("\n"))

    def bad_line(self, line, texts):
        if line in self.extra or line in texts:
            return False
        m = OK_RE.fullmatch(line)
        if m:
            return m.group(1) not in WORDS
        if FIXED_RE.fullmatch(line):
            return False
        tokens = line.split()
        if len(tokens) == 1326:
            return not (all(NUM_RE.fullmatch(t) for t in tokens)
                        or all(COMBO_RE.fullmatch(t) for t in tokens))
        return True


# ---------------------------------------------------------------- running


def materialise(session, directory):
    for name, data in session.files.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
    for d in ("adir",):
        os.makedirs(os.path.join(directory, d), exist_ok=True)


def run_mode(binary, session, commands, mode, timeout, classifier):
    """Runs one feed of the session; returns (failure kind, detail) or None."""
    directory = tempfile.mkdtemp(prefix="nlhe-fuzz-")
    try:
        materialise(session, directory)
        lines = commands + session.tail()
        args, stdin = [binary], b""
        if mode == "cmd":
            for line in lines:
                args += ["-c", line]
        elif mode == "script":
            with open(os.path.join(directory, "session.txt"), "w", encoding="latin-1") as f:
                f.write("\n".join(lines) + "\n")
            args.append("session.txt")
        else:
            stdin = ("\n".join(lines) + "\n").encode("latin-1")
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0",
                   UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
        proc = subprocess.Popen(args, cwd=directory, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env, start_new_session=True)
        try:
            out, err = proc.communicate(stdin, timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.communicate()
            return ("hang", "no end within %d s" % timeout)
        err_text = err.decode("latin-1")
        if "Sanitizer" in err_text or "runtime error:" in err_text:
            return ("sanitizer", "\n".join(err_text.splitlines()[:12]))
        if proc.returncode != 0:
            tail = out.decode("latin-1").splitlines()[-3:]
            return ("status", "status %d; last lines %r" % (proc.returncode, [t[:120] for t in tail]))
        text = out.decode("latin-1")
        for name in sorted(os.listdir(directory)):
            if name.startswith("out") and os.path.isfile(os.path.join(directory, name)):
                with open(os.path.join(directory, name), "rb") as f:
                    text += "\n" + f.read().decode("latin-1")
        for line in text.split("\n"):
            if line and classifier.bad_line(line, session.texts):
                return ("reply", "unexpected line %r" % line[:200])
        if not session.exit_at_end and "is_ready ok!" not in out.decode("latin-1").split("\n"):
            return ("ready", "no 'is_ready ok!' on standard output")
        return None
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def session_commands(session, mode):
    commands = session.commands
    if mode == "cmd":
        if "batch-hold" in session.avoid:
            # Until the batch hold is mended, keep go and stop out of batches with blockers.
            if any(c.split(" ")[0] in BLOCKING for c in commands + session.tail()):
                commands = [c for c in commands if c.split(" ")[:1] not in (["go"], ["stop"])]
    if mode != "cmd":
        return commands
    # An argument that TCLAP would read as an option cannot be a -c value, and the whole command
    # line must stay within the system's limit.
    kept, size = [], 0
    for c in commands:
        if not c.startswith("-") and len(c) < 100000 and size + len(c) < 1000000:
            kept.append(c)
            size += len(c) + 4
    return kept


def check_session(binary, seed, avoid, timeout, classifier, modes):
    session = Session(seed, avoid)
    waits = 0
    for c in session.commands:
        w = c.split(" ")
        if w[0] == "take_a_break" and len(w) == 2 and w[1].isdigit():
            waits += min(int(w[1]), 5)
        if w[0] == "go" and len(w) == 3 and w[2] == "seconds" and w[1].isdigit():
            waits += min(int(w[1]), 5)
    failures = []
    for mode in modes:
        commands = session_commands(session, mode)
        result = run_mode(binary, session, commands, mode, timeout + waits, classifier)
        if result:
            failures.append((mode, result))
    return session, failures


def shrink(binary, session, mode, kind, timeout, classifier):
    """Drops commands while the same kind of failure remains (halves, then single lines)."""
    commands = session_commands(session, mode)

    def fails(cmds):
        r = run_mode(binary, session, cmds, mode, timeout, classifier)
        return r is not None and r[0] == kind

    chunk = max(1, len(commands) // 2)
    while chunk >= 1:
        i, changed = 0, False
        while i < len(commands):
            candidate = commands[:i] + commands[i + chunk:]
            if candidate and fails(candidate):
                commands, changed = candidate, True
            else:
                i += chunk
        if chunk == 1 and not changed:
            break
        chunk = chunk // 2 if chunk > 1 else (1 if changed else 0)
    return commands


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--binary", required=True)
    p.add_argument("--first-seed", type=int, default=1)
    p.add_argument("--sessions", type=int, default=10)
    p.add_argument("--seconds", type=float, default=0, help="run sessions until this much time has passed")
    p.add_argument("--jobs", type=int, default=1)
    p.add_argument("--timeout", type=float, default=30, help="seconds per feed, before waits")
    p.add_argument("--modes", default="cmd,script,stdin")
    p.add_argument("--avoid", default=os.environ.get("NLHE_FUZZ_AVOID", DEFAULT_AVOID),
                   help="known faults to steer around: " + ", ".join(KNOWN))
    p.add_argument("--shrink", action="store_true", help="shrink each failure by dropping commands")
    p.add_argument("--keep", help="directory for failing sessions (lines and files)")
    p.add_argument("--show", type=int, help="print the session of this seed and exit")
    args = p.parse_args()
    args.binary = os.path.abspath(args.binary)
    avoid = set(a for a in args.avoid.split(",") if a)
    modes = args.modes.split(",")
    if args.show is not None:
        s = Session(args.show, avoid)
        for m in modes:
            print("### %s" % m)
            print("\n".join(session_commands(s, m) + s.tail()))
        return 0
    classifier = Classifier(args.binary)
    start = time.time()
    failed = ran = 0
    seeds = iter(range(args.first_seed, 1 << 62))
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        pending = set()

        def submit():
            if args.seconds:
                if time.time() - start >= args.seconds:
                    return False
            elif ran + len(pending) >= args.sessions:
                return False
            pending.add(pool.submit(check_session, args.binary, next(seeds), avoid, args.timeout,
                                    classifier, modes))
            return True

        while len(pending) < args.jobs and submit():
            pass
        while pending:
            done, _ = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
            for fut in done:
                pending.remove(fut)
                session, failures = fut.result()
                ran += 1
                for mode, (kind, detail) in failures:
                    failed += 1
                    print("FAIL seed %d (%s): %s: %s" % (session.seed, mode, kind, detail), flush=True)
                    small = None
                    if args.shrink:
                        small = shrink(args.binary, session, mode, kind, args.timeout, classifier)
                        print("  minimal (%d lines and the tail):" % len(small))
                        for line in small + session.tail():
                            print("    " + line[:300])
                    if args.keep:
                        d = os.path.join(args.keep, "seed%d-%s" % (session.seed, mode))
                        os.makedirs(d, exist_ok=True)
                        materialise(session, d)
                        kept = [("session.txt", session_commands(session, mode))]
                        if small is not None:
                            kept.append(("minimal.txt", small))
                        for name, cmds in kept:
                            with open(os.path.join(d, name), "w", encoding="latin-1") as f:
                                f.write("\n".join(cmds + session.tail()) + "\n")
                submit()
    print("%d sessions (%s), %d failures, %.1f s" % (ran, ",".join(modes), failed, time.time() - start))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
