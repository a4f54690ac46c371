#!/usr/bin/env python3
"""Writes the golden saved-tree files of the tests from the file layout alone (standard library
only): a river-rooted spot whose every hand plays one strategy, so the replies follow from the
numbers written here.

    tests/saved_trees/make_golden.py [output directory]

river_v1.qx7  version 1: f64 records, raw river blocks, one lock mask
river_v3.qx7  version 3: f32 records, otherwise the same
river_v5.qx7  version 5: i16 reach rows, value rows in a kind-0 (range coder) block
flop_v7.qx7   version 7: a flop spot with the rivers forgotten (F = 3), value rows in a kind-1
              (fast coder) block, strategy rows through the fast reader, two info lines
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



# --- the fast coder (kind 1): bit, nibble and byte streams in 256-byte blocks ------------------


class FastRows:
    """Kind-1 rows: tag bit; groups of eight with a group bit, a flag bit per value and, for a
    nonzero code z, the value code of b = z - 1 (nibble; escapes to a byte, u16, u32)."""

    def __init__(self):
        self.bits, self.nibbles, self.bytes = [], [], bytearray()

    def value(self, b):
        if b < 15:
            self.nibbles.append(b)
            return
        self.nibbles.append(15)
        if b < 255:
            self.bytes.append(b)
            return
        self.bytes.append(0xFF)
        if b < 65535:
            self.bytes += struct.pack("<H", b)
            return
        self.bytes += struct.pack("<HI", 0xFFFF, b)

    def row(self, codes, tag=0):
        self.bits.append(tag)
        for g in range(0, len(codes), 8):
            group = codes[g:g + 8]
            self.bits.append(1 if any(group) else 0)
            if not any(group):
                continue
            for z in group:
                self.bits.append(1 if z else 0)
                if z:
                    self.value(z - 1)

    def block(self):
        """Sub-stream 0: kind byte 1, then the byte stream; 1 the bits; 2 the nibbles; each
        stream padded with zeros to whole 256-byte blocks, an empty stream without a block."""
        def padded(data):
            return bytes(data) + bytes(-len(data) % 256)

        bits = bytearray((len(self.bits) + 7) // 8)
        for i, b in enumerate(self.bits):
            bits[i // 8] |= b << (i % 8)
        nibbles = bytearray((len(self.nibbles) + 1) // 2)
        for j, v in enumerate(self.nibbles):
            nibbles[j // 2] |= v << (4 * (j % 2))
        streams = [bytes([1]) + padded(self.bytes), padded(bits), padded(nibbles)]
        streams += [b""] * 21
        return b"".join(struct.pack("<Q", len(s)) + s for s in streams)


def row_codes(values):
    """Codes of a row without a reference: zigzag of the left-neighbour differences, mod 2^32."""
    codes, prev = [], 0
    for v in values:
        d = (v - prev) & 0xFFFFFFFF
        d = d - (1 << 32) if d >> 31 else d
        codes.append(zigzag(d))
        prev = v
    return codes


def pack16(values):
    """Fast packing of a 16-bit row: blocks of 32 (header byte of four 2-bit group codes), then
    tail groups of up to eight with a flag byte (1: bytes, 3: u16)."""
    out = bytearray()
    i = 0
    while len(values) - i >= 32:
        header, payload = 0, bytearray()
        for g in range(4):
            group = values[i + 8 * g:i + 8 * g + 8]
            m = max(group)
            if m == 0:
                code = 0
            elif m <= 255:
                code = 1
                payload += bytes(group)
            elif m <= 4095:
                code = 2
                x = sum(v << (12 * k) for k, v in enumerate(group))
                payload += x.to_bytes(12, "little")
            else:
                code = 3
                payload += struct.pack("<8H", *group)
            header |= code << (2 * g)
        out.append(header)
        out += payload
        i += 32
    while i < len(values):
        group = values[i:i + 8]
        if max(group) > 255:
            out.append(3)
            out += struct.pack("<%dH" % len(group), *group)
        else:
            out.append(1)
            out += bytes(group)
        i += len(group)
    return bytes(out)


# The flop spot: OOP holds AA, IP holds KK, isomorphism off. Lines (cumulative amounts):
# 50 50 50 50 50 50, 0 0 50 50 50 50 and 0 0 0 0 0 0.
FLOP7 = "Qs 7h 2d"
ACES, KINGS = "A", "K"
FLOP_HANDS = 12  # six AA and six KK combinations, none meeting the flop


def turn_hands(c):
    """Hands of the turn record of card c: an ace or a king removes three combinations."""
    return 9 if RANKS[c % 13] in (ACES, KINGS) else 12


TURN_CARDS = [c for c in range(52) if not mask(FLOP7) >> c & 1]  # record order: card order
assert len(TURN_CARDS) == 49


def leaf(street, amount, c0, c1):
    return (0, street, 0, amount, c0, c1, [])


def checks_to_showdown(street, a):
    """From a first decision of the given line street (0 flop, 1 turn, 2 river): check, check
    behind, and on to the next street, up to the showdown leaf of street 3."""
    if street == 3:
        return leaf(3, a, a, a)
    return (0, street, 0, a, a, a, [
        (a, (1, street, 0, a, a, a, [(a, checks_to_showdown(street + 1, a))]))])


def bet_call_fold(street, base, to, call_child):
    """OOP bets from base to `to`: IP calls (the call child) or folds."""
    return (1, street, 1, to, to, base, [
        (to, call_child),
        (-1.0, (0, street, 0, base, to, base, [])),
    ])


FLOP7_LINES = (0, 0, 0, 0.0, 0.0, 0.0, [
    (50.0, bet_call_fold(0, 0.0, 50.0, checks_to_showdown(1, 50.0))),
    (0.0, (1, 0, 0, 0.0, 0.0, 0.0, [
        (0.0, (0, 1, 0, 0.0, 0.0, 0.0, [
            (50.0, bet_call_fold(1, 0.0, 50.0, checks_to_showdown(2, 50.0))),
            (0.0, (1, 1, 0, 0.0, 0.0, 0.0, [(0.0, checks_to_showdown(2, 0.0))])),
        ])),
    ])),
])


def flop_nodes():
    """The tree's nodes in pre-order with descending keys: (real street, action count, parent's
    real street or None for the root)."""
    nodes = []

    def walk(node, parent_street):
        street = 1 + node[1]
        children = node[6]
        # A childless line is a leaf: a fold keeps its parent's street, a showdown is street 3.
        nodes.append((street, len(children), parent_street))
        for _, child in children:
            walk(child, street)

    walk(FLOP7_LINES, None)
    return nodes


# Strategies in thousandths of the first action, the same for every hand (and turn card): the
# flop bet, IP's call of it, the turn bet, IP's call of that.
FLOP7_FIRST_ACTION = [400, 700, 250, 900]
FLOP7_VALUES = [150, -25, 0, 1, 70000, -70000, 3, 3, 3, 12, 0, 255]  # hundredths, array 2


def flop_version7():
    out = Out()
    out.b += b"QX7:"
    out.put("i", 7)
    out.put("B", 0)
    out.put("QQQ", mask(FLOP7), 0, 0)
    out.put("ddd", 0.0, 0.0, 100.0)
    for player, rank in ((0, ACES), (1, KINGS)):
        weights = [0.0] * 1326
        # ComboIndex of cards lo < hi: hi * (hi - 1) / 2 + lo.
        cards = [s * 13 + RANKS.index(rank) for s in range(4)]
        for i in range(4):
            for j in range(i + 1, 4):
                lo, hi = cards[i], cards[j]
                weights[hi * (hi - 1) // 2 + lo] = 1.0
        out.put("1326d", *weights)
    line(out, *FLOP7_LINES)
    # Header: INCOMPLETE_TREE | NEW_TREE, rivers forgotten, no best response yet.
    out.put("Ii", 5, 3)
    out.put("i", -1)
    out.put("4d", 0.0, 0.0, 0.0, 0.0)
    out.put("dd", 0.0, 0.0)
    out.put("i", 2)  # compression level
    out.put("I", 10)  # iterations
    nodes = flop_nodes()
    # A first turn node: one record over the flop's hands; a first river decision node: one
    # record per turn record over that record's hands.
    records = []
    for street, actions, parent in nodes:
        if street == 2 and actions > 0 and parent < 2:
            records.append([FLOP_HANDS])
        elif street == 3 and actions > 0 and parent < 3:
            records.append([turn_hands(c) for c in TURN_CARDS])
    # Node section: records only (the storages are not saved with a forgotten street). Turn
    # records keep their reach rows (1.0 = 150 / 150); the river's are rebuilt on loading.
    for hands in records:
        for n in hands:
            if len(hands) == 1:
                out.put("BB", 0, 0)
                for _ in range(2):
                    out.put("i", n)
                    out.put("%dh" % n, *([150] * n))
                out.put("BQ", 0, 0)
            else:
                out.put("BB", 1, 1)
                out.put("BQ", 1, 0)
    # Row counts: the first turn record's array 2 and every river record's array 4.
    counts = []
    for hands in records:
        for n in hands:
            counts.append([n, 0, 0, 0] if len(hands) == 1 and not counts else
                          [0, 0, n, 0] if len(hands) > 1 else [0, 0, 0, 0])
            out.put("4i", *counts[-1])
    # Value rows in a kind-1 block, after the selector 0 (slow reader).
    out.put("B", 0)
    rows = FastRows()
    for row in counts:
        for n in row:
            if n == 0:
                continue
            values = FLOP7_VALUES if n == FLOP_HANDS and row[0] else [0] * n
            rows.row(row_codes([zigzag(v) for v in values]))
    out.b += rows.block()
    # Strategy rows through the fast reader (selector 1): per node below the river with two
    # actions, the first action's row (the last action is implied); turn nodes once per turn
    # record, over that record's hands.
    out.put("B", 1)
    first = iter(FLOP7_FIRST_ACTION)
    for street, actions, _ in nodes:
        if actions < 2 or street > 2:
            continue
        t = next(first)
        for n in ([FLOP_HANDS] if street == 1 else [turn_hands(c) for c in TURN_CARDS]):
            packed = pack16([t] * n)
            out.put("h", len(packed))
            out.b += packed
    # Info lines.
    info = [b"golden flop, rivers forgotten", b"#kept as written"]
    out.put("i", len(info))
    for text in info:
        out.put("i", len(text))
        out.b += text
    return bytes(out.b)


def main():
    where = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, data in (("river_v1.qx7", older(1)), ("river_v3.qx7", older(3)),
                       ("river_v5.qx7", version5()), ("flop_v7.qx7", flop_version7())):
        with open("%s/%s" % (where, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
