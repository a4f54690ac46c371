#!/usr/bin/env python3
"""Writes the golden saved-tree files of the tests from the file layout alone (standard library
only): a river-rooted spot whose every hand plays one strategy, so the replies follow from the
numbers written here.

    tests/saved_trees/make_golden.py [output directory]

river_v1.qx7  version 1: f64 records, raw river blocks, one lock mask
river_v3.qx7  version 3: f32 records, otherwise the same
river_v5.qx7  version 5: i16 reach rows, value rows in a kind-0 (range coder) block
"""
import struct
import sys

# Cards: bit suit * 13 + rank, suits c d h s, ranks 2 .. A.
RANKS = "23456789TJQKA"
SUITS = "cdhs"


def card(text):
    return SUITS.index(text[1]) * 13 + RANKS.index(text[0])


def mask(cards):
    m = 0
    for c in cards.split():
        m |= 1 << card(c)
    return m


FLOP, TURN, RIVER = "Ks 7h 2d", "9c", "4h"
# Full ranges: every two-card hand off the board is live; 52 - 5 cards leave C(47, 2) hands on
# the river, and the one turn record has C(48, 2).
RIVER_HANDS = 47 * 46 // 2
TURN_HANDS = 48 * 47 // 2
# The record arrays of the root's turn record hold TURN_HANDS values, the others none.
RECORDS = 49


class Out:
    def __init__(self):
        self.b = bytearray()

    def put(self, fmt, *v):
        self.b += struct.pack("<" + fmt, *v)


def line(out, player, street, bets, amount, c0, c1, children):
    """A line record: i32 player, street, bets, record index; f64 amount and contributions;
    i32 child count; per child an f64 key and its record."""
    out.put("iiii", player, street, bets, 0)
    out.put("ddd", amount, c0, c1)
    out.put("i", len(children))
    for key, child in children:
        out.put("d", key)
        line(out, *child)


# OOP bets 50 (IP calls or folds) or checks (IP checks back). Children in descending key order;
# the fold's key is -1.
LINES = (0, 0, 0, 0.0, 0.0, 0.0, [
    (50.0, (1, 0, 1, 50.0, 50.0, 0.0, [
        (50.0, (0, 0, 1, 50.0, 50.0, 50.0, [])),
        (-1.0, (1, 0, 1, 0.0, 50.0, 0.0, [])),
    ])),
    (0.0, (1, 0, 0, 0.0, 0.0, 0.0, [
        (0.0, (0, 1, 0, 0.0, 0.0, 0.0, [])),
    ])),
])

# Decision nodes in node order (pre-order, children by descending key): the root (bet, check),
# IP facing the bet (call, fold), IP after the check (check). Regret rows: every hand the same,
# so the strategy is regret / sum of positive regrets.
NODE_REGRETS = [[1.0, 3.0], [2.0, 2.0], [5.0]]
NODE_SUMS = [[10.0, 30.0], [20.0, 20.0], [7.0]]
LOCKED_HAND = 5  # the root's one locked hand, in its river list


def head(out, version, flag=None):
    out.b += b"QX7:"
    out.put("i", version)
    if version >= 4:
        out.put("B", flag)
    out.put("QQQ", mask(FLOP), mask(TURN), mask(RIVER))
    out.put("ddd", 0.0, 0.0, 100.0)
    for _ in range(2):
        out.put("1326d", *([1.0] * 1326))
    line(out, *LINES)
    # Library header: flags (NEW_TREE), forgotten street, best-response stamp, value pairs,
    # mean value, exploitability.
    out.put("Ii", 4, -1)
    out.put("i", -1)
    out.put("4d", 0.0, 0.0, 0.0, 0.0)
    out.put("dd", 0.0, 0.0)
    out.put("i", 0)  # compression level
    out.put("I", 10)  # iterations


def lock_part(out, locked):
    """One runout: u32 flags, and with per-hand locks i16 mask length, i16 run count, runs of
    0-bytes and 1-bytes starting with 0-bytes."""
    if not locked:
        out.put("I", 0)
        return
    out.put("I", 2)
    runs = [LOCKED_HAND, 1, RIVER_HANDS - LOCKED_HAND - 1]
    out.put("hh", RIVER_HANDS, len(runs))
    out.put("%dh" % len(runs), *runs)


def river_block(out, rows, locked):
    """A float river storage of one runout: lock part, then per action its row, raw."""
    lock_part(out, locked)
    for value in rows:
        out.put("%df" % RIVER_HANDS, *([value] * RIVER_HANDS))


def storages(out):
    for n, (regrets, sums) in enumerate(zip(NODE_REGRETS, NODE_SUMS)):
        river_block(out, regrets, n == 0)
        river_block(out, sums, False)


def old_records(out, version):
    """Below version 4: six arrays per record (i32 count, values), done byte, done bits."""
    fmt = "d" if version < 2 else "f"
    for r in range(RECORDS):
        for a in range(6):
            n = TURN_HANDS if r == 0 and a >= 2 else 0
            out.put("i", n)
            out.put("%d%s" % (n, fmt), *([0.25 * a] * n))
        out.put("BQ", 0, 0)


# --- the range coder (kind 0): LZMA-style binary coder, 11-bit probabilities, shift 4 ---------


class RangeEncoder:
    def __init__(self):
        self.low, self.range, self.cache, self.cache_size = 0, 0xFFFFFFFF, 0, 1
        self.bytes = bytearray()

    def bit(self, model, i, b):
        p = model[i]
        bound = (self.range >> 11) * p
        if b == 0:
            self.range = bound
            model[i] = p + ((2048 - p) >> 4)
        else:
            self.low += bound
            self.range -= bound
            model[i] = p - (p >> 4)
        if self.range < (1 << 24):
            self.range = (self.range << 8) & 0xFFFFFFFF
            self.shift()

    def shift(self):
        carry = self.low >> 32
        if (self.low & 0xFFFFFFFF) < 0xFF000000 or carry:
            self.bytes.append((self.cache + carry) & 0xFF)
            for _ in range(self.cache_size - 1):
                self.bytes.append((0xFF + carry) & 0xFF)
            self.cache = (self.low >> 24) & 0xFF
            self.cache_size = 0
        self.cache_size += 1
        self.low = (self.low & 0x00FFFFFF) << 8


def split_tree(counts):
    """Records [right, split] over symbols 0..1023, root first, left child next."""
    tree = []

    def wrap(x):
        x &= (1 << 64) - 1
        return x - (1 << 64) if x >> 63 else x

    def build(lo, hi, total):
        while True:
            if hi - lo == 2:
                tree.append([0, lo + 1])
                return
            if hi - lo == 1:
                return
            left = 0
            if total > 0 and lo < 255:
                limit, half, mid = min(hi - 1, 255), wrap(total + 1) >> 1, lo
                while True:
                    left = wrap(left + counts[mid])
                    mid += 1
                    if not (left < half and mid < limit):
                        break
            else:
                mid = lo + (hi - lo) // 2
            index = len(tree)
            tree.append(None)
            build(lo, mid, left)
            tree[index] = [len(tree), mid]
            lo, total = mid, wrap(total - left)

    total = 0
    for c in counts:
        total = wrap(total + c)
    build(0, 1024, total)
    assert len(tree) == 1023
    return tree


class RangeRows:
    """Kind-0 rows: tag bit; groups of 16 codes with a group bit; value bits; symbols through
    the split tree; escapes in 17- and 16-bit bit trees."""

    def __init__(self, counts):
        self.counts = counts
        self.tree = split_tree(counts)
        self.enc = RangeEncoder()
        self.tag = [1024]
        self.group = [1024] * (2 * 4096)
        self.value = [1024] * (2 * 65536)
        self.treeModel = {}
        self.escLow = [1024] * (1 << 17)
        self.escHigh = [1024] * (1 << 16)

    def bits(self, model, nbits, v):
        m = 1
        for i in range(nbits - 1, -1, -1):
            b = (v >> i) & 1
            self.enc.bit(model, m, b)
            m = 2 * m + b

    def row(self, codes, tag=0):
        e = self.enc
        gctx = vctx = 0
        prev = 1022
        e.bit(self.tag, 0, tag)
        for g in range(0, len(codes), 16):
            group = codes[g:g + 16]
            gb = 1 if any(group) else 0
            e.bit(self.group, tag * 4096 + gctx, gb)
            gctx = (2 * gctx + gb) & 0xFFF
            if not gb:
                continue
            for z in group:
                vb = 1 if z else 0
                e.bit(self.value, tag * 65536 + vctx, vb)
                vctx = (2 * vctx + vb) & 0xFFFF
                if not vb:
                    continue
                s = z - 1 if z < 1024 else 1023
                model = self.treeModel.setdefault((tag, prev), [1024] * 1024)
                node, lo, hi = 0, 0, 1024
                while hi - lo > 1:
                    right, split = self.tree[node]
                    b = 1 if s >= split else 0
                    e.bit(model, node, b)
                    if b:
                        lo, node = split, right
                    else:
                        hi, node = split, node + 1
                prev = s
                if z >= 1024:
                    v = z - 1024
                    self.bits(self.escLow, 17, (0x10000 if v >= 65536 else 0) | (v & 0xFFFF))
                    if v >= 65536:
                        self.bits(self.escHigh, 16, v >> 16)

    def block(self):
        """The 24 {u64 length, bytes} pairs of a slow block: kind byte 0, "Cmpr", counts,
        coded bytes and the five final shifts on sub-stream 0; the rest empty."""
        for _ in range(5):
            self.enc.shift()
        s0 = bytes([0]) + b"Cmpr" + struct.pack("<256q", *self.counts) + bytes(self.enc.bytes)
        out = struct.pack("<Q", len(s0)) + s0
        return out + struct.pack("<Q", 0) * 23


def zigzag(x):
    return ((x << 1) ^ (x >> 31)) & 0xFFFFFFFF


def version5():
    out = Out()
    head(out, 5, 0)
    # Records: reach rows absent (flags A and B set), done byte, done bits.
    for r in range(RECORDS):
        out.put("BBBQ", 1, 1, 0, 0)
    storages(out)
    # Row counts: arrays 2 to 5 of every record; only record 0's array 2 has values.
    for r in range(RECORDS):
        out.put("4i", TURN_HANDS if r == 0 else 0, 0, 0, 0)
    # Value rows: x 0.01 of the zigzag-decoded integers; the row is 1.0, 1.0, ... so the codes
    # are zz(100) then zeros (left-neighbour differences).
    counts = [0] * 256
    counts[zigzag(100) - 1] = 1
    rows = RangeRows(counts)
    rows.row([zigzag(100)] + [0] * (TURN_HANDS - 1))
    out.b += rows.block()
    return bytes(out.b)


def older(version):
    out = Out()
    head(out, version)
    old_records(out, version)
    # Storages follow each node's records in node order: records belong to the root only.
    storages_out = Out()
    storages(storages_out)
    out.b += storages_out.b
    return bytes(out.b)


def main():
    where = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, data in (("river_v1.qx7", older(1)), ("river_v3.qx7", older(3)),
                       ("river_v5.qx7", version5())):
        with open("%s/%s" % (where, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
