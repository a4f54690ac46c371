#!/usr/bin/env python3
"""Holds every range comment of the example scripts to the weights it describes.

    example_ranges.py BINARY EXAMPLES_DIR

A comment `# OOP range: 22+, A2s+, KQo, QJ:0.5` describes the next `set_range OOP` of its file
(IP likewise; hero and villain name the same players). Items, separated by commas:
`QQ` a pair, `QQ+` it and every higher pair, `QQ-55` the pairs from QQ down to 55; `AKs`, `AKo`,
`AK` (both) a hand class, `A8s+` A8s up to AKs, `K9o-K5o` from K9o down to K5o. Every
combination named has weight 1 unless the item ends in `:<weight>`; every other one has 0.
Each set_range must have such a comment and each comment a set_range. The combinations come in
the order `show_hand_order` prints them.
"""
import pathlib
import re
import subprocess
import sys

RANKS = "23456789TJQKA"
PLAYERS = {"OOP": "OOP", "hero": "OOP", "IP": "IP", "villain": "IP"}
COMMENT = re.compile(r"#\s*(\w+) range:(.*)$")


def hand_class(combo):
    """'AsKs' -> 'AKs', 'QhQd' -> 'QQ', 'Kc9d' -> 'K9o' (the higher rank first)."""
    (a, s), (b, t) = sorted([combo[:2], combo[2:]], key=lambda c: -RANKS.index(c[0]))
    return a + b if a == b else a + b + ("s" if s == t else "o")


def expand(text):
    """Hand class -> weight for a comment's items; ValueError on an item it cannot read."""
    weights = {}
    for item in filter(None, (i.strip() for i in text.split(","))):
        name, _, weight = item.partition(":")
        m = re.fullmatch(r"([2-9TJQKA])([2-9TJQKA])([so]?)(\+|-([2-9TJQKA])([2-9TJQKA])\3)?", name)
        if not m:
            raise ValueError(f"cannot read '{item}'")
        hi, lo, suit, more, end_hi, end_lo = m.groups()
        h, l = RANKS.index(hi), RANKS.index(lo)
        if h == l and not suit:  # pairs
            top = 12 if more == "+" else RANKS.index(end_hi) if more else h
            if end_hi and end_hi != end_lo:
                raise ValueError(f"cannot read '{item}'")
            classes = [r + r for r in RANKS[min(h, top) : max(h, top) + 1]]
        elif h > l and (not more or more == "+" or end_hi == hi and RANKS.index(end_lo) < h):
            top = h - 1 if more == "+" else RANKS.index(end_lo) if more else l
            kinds = [suit] if suit else ["s", "o"]
            classes = [hi + k + s for k in RANKS[min(l, top) : max(l, top) + 1] for s in kinds]
        else:
            raise ValueError(f"cannot read '{item}'")
        for c in classes:
            weights[c] = float(weight or 1)
    return weights


def check(path, order):
    """The faults of one example script, as lines of text."""
    faults, pending = [], {}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        where = f"{path.name}:{number}"
        m = COMMENT.match(line)
        words = line.split()
        if m and m.group(1) in PLAYERS:
            try:
                pending[PLAYERS[m.group(1)]] = (where, expand(m.group(2)))
            except ValueError as e:
                faults.append(f"{where}: {e}")
        elif words[:1] == ["set_range"] and len(words) == 1328 and words[1] in PLAYERS:
            said = pending.pop(PLAYERS[words[1]], None)
            if said is None:
                faults.append(f"{where}: set_range {words[1]} without a range comment above")
                continue
            for combo, value in zip(order, map(float, words[2:])):
                expected = said[1].get(hand_class(combo), 0.0)
                if value != expected:
                    faults.append(f"{said[0]}: {combo} has weight {value:g} at line {number}, "
                                  f"the comment says {expected:g}")
        elif words[:1] == ["set_range"]:
            faults.append(f"{where}: a set_range this check does not read")
    faults += [f"{where}: range comment without a set_range below" for where, _ in pending.values()]
    return faults


def main():
    binary, examples = sys.argv[1], pathlib.Path(sys.argv[2])
    out = subprocess.run([binary], input="show_hand_order\n", capture_output=True, text=True,
                         timeout=60, check=True).stdout
    order = out.splitlines()[-1].split()
    assert len(order) == 1326 and len(set(order)) == 1326, "show_hand_order: " + out[:200]
    # The notation itself, on known counts: 6 per pair, 4 per suited class, 12 per offsuit one.
    for text, combos in [("22+", 78), ("QQ-99", 24), ("A2s+", 48), ("KTo-K8o", 36),
                         ("AK, T9s", 20), ("67o", 0), ("K9o-KAo", 0)]:
        try:
            got = sum({2: 6, 3: 4}[len(c)] if c[-1] != "o" else 12 for c in expand(text))
        except ValueError:
            got = 0
        assert got == combos, f"'{text}' names {got} combinations, not {combos}"
    faults = [f for path in sorted(examples.glob("*.txt")) for f in check(path, order)]
    print("\n".join(faults[:40]) or "every range comment matches its weights")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
