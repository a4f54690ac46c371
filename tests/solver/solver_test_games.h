// Small games for the solver tests: betting lines from a sizing rule, ranges, and the steps
// that build a tree through the library's entry points.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "cards/cards.h"
#include "cards/hand_set.h"
#include "reference_cfr.h"
#include "solver/solved_tree.h"
#include "storage/binary_io.h"
#include "storage/node_data.h"
#include "storage/river_storage.h"
#include "utilities/kernel_switches.h"

namespace testgames {

// Lines in pre-order with children in action order (larger amounts first, the fold last).
// Every street: OOP checks or bets half the pot; facing a bet: raise (while raises remain on
// the street) to half the pot after the call, call, or fold; a check behind closes the street.
struct LineBuilder {
    std::vector<TreeLine> lines;
    double pot = 100;
    double stack = 1000;
    int raisesPerStreet = 1;
    int riverRaises = -1;  // raises on the river when not negative
    double betFraction = 0.5;

    int Push(int kind, int parent, int player, int street, double amount) {
        lines.push_back(TreeLine{kind, parent, player, street, amount});
        return static_cast<int>(lines.size()) - 1;
    }
    void Close(int parent, int street, double level) {
        if (street == 3 || level >= stack)
            Push(1, parent, -1, -1, level + pot / 2);
        else
            Decision(parent, street + 1, 0, level, level, false,
                     street == 2 && riverRaises >= 0 ? riverRaises : raisesPerStreet);
    }
    void Decision(int parent, int street, int player, double lv0, double lv1, bool checkCloses,
                  int raisesLeft) {
        const int me = Push(0, parent, player, street, 0.0);
        const double mine = player == 0 ? lv0 : lv1, other = player == 0 ? lv1 : lv0;
        const double potNow = pot + lv0 + lv1;
        auto next = [&](double level) {
            const double n0 = player == 0 ? level : lv0, n1 = player == 1 ? level : lv1;
            return std::pair<double, double>(n0, n1);
        };
        if (other > mine) {
            const double raiseTo = std::min(other + (potNow + (other - mine)) * betFraction, stack);
            if (raisesLeft > 0 && raiseTo > other) {
                auto [n0, n1] = next(raiseTo);
                Decision(me, street, 1 - player, n0, n1, false, raisesLeft - 1);
            }
            Close(me, street, other);
            Push(2, me, -1, -1, mine + pot / 2);
        } else {
            const double bet = std::min(mine + potNow * betFraction, stack);
            if (bet > mine) {
                auto [n0, n1] = next(bet);
                Decision(me, street, 1 - player, n0, n1, false, raisesLeft);
            }
            if (checkCloses)
                Close(me, street, mine);
            else
                Decision(me, street, 1 - player, lv0, lv1, true, raisesLeft);
        }
    }
    std::vector<TreeLine> Build(int street) {
        lines.clear();
        Decision(-1, street, 0, 0.0, 0.0, false, raisesPerStreet);
        return lines;
    }
};

inline CardMask Cards(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

// About `count` random combinations off the board with weights in (0.1, 1].
inline std::vector<double> RandomRange(CardMask board, int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<double> range(1326, 0.0);
    std::uniform_int_distribution<int> pick(0, 1325);
    std::uniform_real_distribution<double> weight(0.1, 1.0);
    for (int placed = 0; placed < count;) {
        const int c = pick(rng);
        if ((ComboMask(c) & board) || range[c] > 0) continue;
        range[c] = weight(rng);
        ++placed;
    }
    return range;
}

inline RefGame ToReference(CardMask board, const std::vector<TreeLine>& lines,
                           const std::vector<double>& r0, const std::vector<double>& r1) {
    RefGame game;
    game.board = board;
    for (const TreeLine& l : lines)
        game.lines.push_back({l.kind, l.parent, l.player, l.street, l.amount});
    game.range[0] = r0;
    game.range[1] = r1;
    return game;
}

// Builds the tree with averaging, plain storages and the scalar path; true on success.
inline bool BuildTree(CardMask flop, int turn, int river, const std::vector<TreeLine>& lines,
                      const std::vector<double>& r0, const std::vector<double>& r1,
                      bool isomorphism = false, const int32_t kinds[2] = nullptr) {
    int cards[3], n = 0;
    for (int c = 0; c < 52; ++c)
        if (flop & CardBit(c)) cards[n++] = c;
    if (libsubgame_build_tree(1, lines.data(), static_cast<int32_t>(lines.size()), cards[0],
                              cards[1], cards[2], turn, river, r0.data(), r1.data(),
                              isomorphism ? 1 : 0) != kBuildOk)
        return false;
    const int32_t plain[2] = {0, 0};
    return libsubgame_reset_progress(kinds ? kinds : plain) && CheckTreeStorageReady(g_solvedTree);
}

// A situation: flop, fixed turn and river card numbers (-1 when not fixed), lines and ranges.
struct Spot {
    CardMask flop;
    int turn, river;
    std::vector<TreeLine> lines;
    std::vector<double> r0, r1;
    CardMask Board() const { return flop | CardBit(turn) | (river >= 0 ? CardBit(river) : 0); }
};

// Weights by ranks only (so isomorphic on any board): about one hand class in `every`.
inline std::vector<double> RankRange(CardMask board, int every, uint32_t seed) {
    std::vector<double> range(1326, 0.0);
    for (int c = 0; c < 1326; ++c) {
        const CardMask m = ComboMask(c);
        const int a = CardRank(LowestCard(m)), b = CardRank(HighestCard(m));
        const uint32_t key = static_cast<uint32_t>(std::max(a, b) * 13 + std::min(a, b)) + seed;
        if (!(m & board) && (key * 2654435761u >> 16) % every == 0) range[c] = 0.3 + key % 7 * 0.1;
    }
    return range;
}

inline uint64_t Fnv(const void* data, size_t n, uint64_t h) {
    for (size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<const uint8_t*>(data)[i]) * 1099511628211ull;
    return h;
}

// One hash per node of every number the tree keeps for it: regret and strategy-sum rows (raw
// float or 16-bit river rows, the saved blocks of every other storage) and its NodeData rows.
// Equal hashes mean bit-identical state.
inline std::vector<uint64_t> TreeDigest(SolvedTree* tree) {
    std::vector<uint64_t> out;
    for (TreeNode& node : tree->nodes) {
        uint64_t h = 1469598103934665603ull;
        for (StorageInterface* s : {node.regrets, node.strategySums}) {
            auto* plain = dynamic_cast<UncompressedRiverStorage*>(s);
            if (!s || !plain) {
                MemoryWriter w;
                if (s) s->save(w);
                h = Fnv(w.bytes().data(), w.bytes().size(), h);
                continue;
            }
            for (size_t t = 0; t < tree->hands->records.size(); ++t)
                for (size_t r = 0; r < tree->hands->records[t].rivers.size(); ++r)
                    for (int a = 0; a < plain->numActions(); ++a) {
                        const int ti = static_cast<int>(t), ri = static_cast<int>(r);
                        const size_t n = static_cast<size_t>(plain->numHands(ti, ri));
                        if (auto* f = dynamic_cast<RiverStorage*>(plain))
                            h = Fnv(f->row(ti, ri, a), 4 * n, h);
                        else
                            h = Fnv(static_cast<ShortRiverStorage*>(plain)->row(ti, ri, a), 2 * n,
                                    h);
                    }
        }
        for (int32_t k = 0; k < node.nodeDataCount; ++k)
            for (const PooledArray& row : node.nodeData[k].rows)
                if (row.data) h = Fnv(row.data, sizeof(float) * row.count, h);
        out.push_back(h);
    }
    return out;
}

}  // namespace testgames
