#include "cards/hand_evaluator.h"

#include <bit>

namespace {

// Indexed by a 13-bit rank mask. Sized for every 13-bit mask (the evaluator only reaches masks
// of up to seven ranks, 0..8128) so a malformed mask can never read outside a table.
constexpr int kTableSize = 1 << 13;

uint32_t RankCount[kTableSize];
uint32_t TopRank[kTableSize];
uint32_t TopFive[kTableSize];
uint32_t StraightValue[kTableSize];
bool tables_built = false;

constexpr uint32_t Type(uint32_t type) {
    return type << 24;
}
constexpr uint32_t kRankMask = 0x1FFF;

void BuildTables() {
    for (uint32_t m = 1; m < kTableSize; ++m) {
        uint32_t count = 0, packed = 0;
        for (int rank = 12; rank >= 0; --rank) {
            if (!(m >> rank & 1)) continue;
            if (count == 0) TopRank[m] = rank;
            ++count;
            if (count <= 5) packed = packed << 4 | rank;
        }
        RankCount[m] = count;
        TopFive[m] = packed;
        // Highest straight first; the ace also plays below the deuce.
        for (int top = 12; top >= 4; --top) {
            const uint32_t run = 0x1Fu << (top - 4);
            if ((m & run) == run) {
                StraightValue[m] = Type(kStraight) | top << 16;
                break;
            }
        }
        if (StraightValue[m] == 0 && (m & 0x100F) == 0x100F)
            StraightValue[m] = Type(kStraight) | 3u << 16;
    }
}

// The k highest ranks of m (m holds at least k), highest in nibble k - 1.
inline uint32_t TopRanks(uint32_t m, uint32_t k) {
    const uint32_t held = RankCount[m] < 5 ? RankCount[m] : 5;
    return TopFive[m] >> (4 * (held - k));
}

inline uint32_t Bit(uint32_t rank) {
    return 1u << rank;
}

struct Fields {
    uint32_t f0, f1, f2, f3;
    explicit Fields(uint64_t mask)
        : f0(mask & kRankMask),
          f1(mask >> 16 & kRankMask),
          f2(mask >> 32 & kRankMask),
          f3(mask >> 48 & kRankMask) {}
};

// Five to seven cards. Flushes and straights need five distinct ranks, which with at most seven
// cards also rules out full houses and quads.
template <int kCards>
inline HandValue EvalFiveToSeven(uint64_t mask) {
    const Fields f(mask);
    const uint32_t ranks = f.f0 | f.f1 | f.f2 | f.f3;
    const uint32_t d = RankCount[ranks];
    if (d < 2 || d > kCards) return 0;
    if (d >= 5) {
        // At most one suit can hold five of seven cards; one test covers all four.
        const int c0 = std::popcount(f.f0), c1 = std::popcount(f.f1);
        const int c2 = std::popcount(f.f2), c3 = std::popcount(f.f3);
        if ((c0 >= 5) | (c1 >= 5) | (c2 >= 5) | (c3 >= 5)) {
            const uint32_t field = c0 >= 5 ? f.f0 : c1 >= 5 ? f.f1 : c2 >= 5 ? f.f2 : f.f3;
            const uint32_t straight = StraightValue[field];
            if (straight) return straight + Type(4);
            return Type(kFlush) | TopFive[field];
        }
        if (StraightValue[ranks]) return StraightValue[ranks];
        if (d == kCards) return TopFive[ranks];
    }
    const uint32_t odd = f.f0 ^ f.f1 ^ f.f2 ^ f.f3;
    const uint32_t quads = f.f0 & f.f1 & f.f2 & f.f3;
    if (quads) {
        const uint32_t q = TopRank[quads];
        return Type(kFourOfAKind) | q << 16 | TopRank[ranks & ~Bit(q)] << 12;
    }
    const uint32_t pairs = ranks ^ odd;  // held exactly twice (no quads here)
    const uint32_t trips = ((f.f0 & f.f1) | (f.f2 & f.f3)) & ((f.f0 | f.f1) & (f.f2 | f.f3));
    if (trips) {
        const uint32_t t = TopRank[trips];
        const uint32_t rest = (trips & ~Bit(t)) | pairs;
        if (rest) return Type(kFullHouse) | t << 16 | TopRank[rest] << 12;
        return Type(kThreeOfAKind) | t << 16 | TopRanks(ranks & ~Bit(t), 2) << 8;
    }
    if (pairs & (pairs - 1)) {
        const uint32_t p1 = TopRank[pairs];
        const uint32_t p2 = TopRank[pairs & ~Bit(p1)];
        const uint32_t kicker = TopRank[ranks & ~Bit(p1) & ~Bit(p2)];
        return Type(kTwoPair) | p1 << 16 | p2 << 12 | kicker << 8;
    }
    const uint32_t p = TopRank[pairs];
    return Type(kOnePair) | p << 16 | TopRanks(ranks & ~Bit(p), 3) << 4;
}

}  // namespace

int32_t InitHandEvalTables() {
    if (!tables_built) {
        BuildTables();
        tables_built = true;
    }
    return 1;
}

HandValue EvalHand3(uint64_t mask) {
    const Fields f(mask);
    const uint32_t ranks = f.f0 | f.f1 | f.f2 | f.f3;
    switch (RankCount[ranks]) {
        case 1:
            return Type(kThreeOfAKind) | TopRank[ranks] << 16;
        case 2: {
            const uint32_t odd = f.f0 ^ f.f1 ^ f.f2 ^ f.f3;
            const uint32_t pair = ranks ^ odd;
            return Type(kOnePair) | TopRank[pair] << 16 | TopRank[odd] << 12;
        }
        case 3:
            return TopFive[ranks] << 8;
        default:
            return 0;
    }
}

HandValue EvalHand4(uint64_t mask) {
    const Fields f(mask);
    const uint32_t ranks = f.f0 | f.f1 | f.f2 | f.f3;
    const uint32_t odd = f.f0 ^ f.f1 ^ f.f2 ^ f.f3;
    switch (RankCount[ranks]) {
        case 1:
            return Type(kFourOfAKind) | TopRank[ranks] << 16;
        case 2:
            if (odd == 0) return Type(kTwoPair) | TopFive[ranks] << 12;
            // Triple and one: the odd set holds both ranks; the triple is held in three suits.
            {
                const uint32_t trips =
                    ((f.f0 & f.f1) | (f.f2 & f.f3)) & ((f.f0 | f.f1) & (f.f2 | f.f3));
                return Type(kThreeOfAKind) | TopRank[trips] << 16 | TopRank[ranks & ~trips] << 12;
            }
        case 3: {
            const uint32_t pair = ranks ^ odd;
            return Type(kOnePair) | TopRank[pair] << 16 | TopFive[odd] << 8;
        }
        case 4:
            return TopFive[ranks] << 4;
        default:
            return 0;
    }
}

HandValue EvalHand5(uint64_t mask) {
    return EvalFiveToSeven<5>(mask);
}
HandValue EvalHand6(uint64_t mask) {
    return EvalFiveToSeven<6>(mask);
}
HandValue EvalHand7(uint64_t mask) {
    return EvalFiveToSeven<7>(mask);
}

HandValue EvalCardMask(CardMask cards) {
    const uint64_t mask = EvaluatorMask(cards);
    switch (CardCount(cards)) {
        case 3:
            return EvalHand3(mask);
        case 4:
            return EvalHand4(mask);
        case 5:
            return EvalHand5(mask);
        case 6:
            return EvalHand6(mask);
        case 7:
            return EvalHand7(mask);
        default:
            return 0;
    }
}

HandValue RankHandFromCards(const uint8_t* cards, int32_t n) {
    if (n < 3 || n > 7) return 0;
    uint64_t mask = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (cards[i] >= kCardCount) return 0;
        mask |= uint64_t{1} << (16 * (cards[i] / 13) + cards[i] % 13);
    }
    switch (n) {
        case 3:
            return EvalHand3(mask);
        case 4:
            return EvalHand4(mask);
        case 5:
            return EvalHand5(mask);
        case 6:
            return EvalHand6(mask);
        default:
            return EvalHand7(mask);
    }
}
