#include "cards/hand_classifier.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>

#include "cards/hand_evaluator.h"

const char* const MadeHandCategoryNames[kMadeHandCategoryCount] = {
    "nothing",     "king_high",     "ace_high", "low_pair",      "third_pair",
    "second_pair", "underpair",     "top_pair", "top_pair_tp",   "overpair",
    "two_pair",    "trips",         "set",      "straight",      "flush",
    "fullhouse",   "top_fullhouse", "quads",    "straight_flush"};
const char* const DrawCategoryNames[kDrawCategoryCount] = {
    "no_draw", "4out_straight_draw", "8out_straight_draw", "flush_draw", "combo_draw"};

namespace {

// One combination: its value on the board (0 when it holds a board card) and its two cards in
// classifier numbering, card1 < card2.
struct Entry {
    uint64_t value;
    uint16_t card1;
    uint16_t card2;
};
using Entries = std::array<Entry, kComboCount>;

struct CardColumns {
    uint16_t card1[kComboCount];
    uint16_t card2[kComboCount];
};

constexpr CardColumns MakeCardColumns() {
    CardColumns columns{};
    for (int hi = 1; hi < kCardCount; ++hi)
        for (int lo = 0; lo < hi; ++lo) {
            const int k = hi * (hi - 1) / 2 + lo;
            columns.card1[k] = static_cast<uint16_t>(51 - hi);
            columns.card2[k] = static_cast<uint16_t>(51 - lo);
        }
    return columns;
}
constexpr CardColumns kCardColumns = MakeCardColumns();

// Evaluator mask bit of a classifier card (suit field 16 * suit, rank bit within it).
constexpr std::array<uint64_t, kCardCount> MakeEvaluatorBits() {
    std::array<uint64_t, kCardCount> bits{};
    for (int c = 0; c < kCardCount; ++c) bits[c] = uint64_t{1} << (16 * (3 - (c & 3)) + 12 - c / 4);
    return bits;
}
constexpr std::array<uint64_t, kCardCount> kEvaluatorBits = MakeEvaluatorBits();

constexpr int ClassifierRank(int card) {
    return 12 - card / 4;
}

constexpr uint32_t Nibble(int i, uint64_t value) {
    return static_cast<uint32_t>(value >> (16 - 4 * i)) & 15;
}

uint64_t BoardBits(const int32_t* cards, int count) {
    uint64_t bits = 0;
    for (int i = 0; i < count; ++i) bits |= kEvaluatorBits[cards[i]];
    return bits;
}

uint64_t EvalClassifierBoard(const int32_t* cards, int count) {
    const uint64_t bits = BoardBits(cards, count);
    return count == 3 ? EvalHand3(bits) : count == 4 ? EvalHand4(bits) : EvalHand5(bits);
}

// Copies the card columns in, marks the combinations that hold a board card with value 0 and
// evaluates the others on the `count` board cards.
void EvaluateEntries(Entries& entries, const int32_t* cards, int count) {
    const uint64_t board = BoardBits(cards, count);
    HandValue (*const eval)(uint64_t) = count == 3 ? EvalHand5 : count == 4 ? EvalHand6 : EvalHand7;
    for (int k = 0; k < kComboCount; ++k) {
        Entry& e = entries[k];
        e.card1 = kCardColumns.card1[k];
        e.card2 = kCardColumns.card2[k];
        const uint64_t hole = kEvaluatorBits[e.card1] | kEvaluatorBits[e.card2];
        e.value = (hole & board) ? 0 : eval(board | hole);
    }
}

int PairPosition(int card, const ClassifierBoard& board) {
    uint32_t ranks = 0;
    for (int i = 0; i < board.count; ++i) ranks |= 1u << ClassifierRank(board.cards[i]);
    const int rank = ClassifierRank(card);
    return 2 * std::popcount(ranks >> (rank + 1)) + static_cast<int>(ranks >> rank & 1);
}

// The first nibble where a is above b; lower nibbles of a do not end the search.
uint32_t FirstBetterRank(uint64_t a, uint64_t b) {
    for (int i = 0; i < 5; ++i)
        if (Nibble(i, a) > Nibble(i, b)) return Nibble(i, a);
    return 0;
}

int32_t HighCardCategory(uint64_t value, uint64_t board_value) {
    const uint32_t rank = FirstBetterRank(value & 0xFFFFFFFF, board_value & 0xFFFFFFFF);
    return rank == 12 ? 200 : rank == 11 ? 100 : 0;
}

int32_t PairTable(int p) {
    static constexpr int32_t kByPosition[6] = {900, 700, 600, 500, 400, 400};
    return p < 6 ? kByPosition[p] : 300;
}

int32_t MadeHandValue(const Entry& e, uint64_t b, const ClassifierBoard& board) {
    const uint64_t v = e.value;
    const uint32_t t = HandValueType(static_cast<HandValue>(v));
    const uint32_t bt = HandValueType(static_cast<HandValue>(b));
    const int p1 = PairPosition(e.card1, board);
    const int p = (p1 & 1) ? p1 : PairPosition(e.card2, board);
    switch (t) {
        case kHighCard:
            return HighCardCategory(v, b);
        case kOnePair:
            return bt == kOnePair ? HighCardCategory(v, b) : PairTable(p);
        case kTwoPair:
            if (bt == kHighCard) return 1000;
            if (bt == kOnePair || Nibble(0, v) > Nibble(0, b) || Nibble(1, v) > Nibble(1, b))
                return PairTable(p);
            return HighCardCategory(v, b);
        case kThreeOfAKind:
            if (bt == kHighCard) return 1200;
            if (bt == kOnePair) return 1100;
            if (bt == kTwoPair) {
                std::puts("ERROR: bug in hand classifier, please report!");
                std::exit(1);
            }
            return HighCardCategory(v, b);
        case kStraight:
            return bt >= kStraight && v <= b ? HighCardCategory(v, b) : 1300;
        case kFlush:
            return bt >= kFlush ? 0 : 1400;
        case kFullHouse:
            if (bt < kFullHouse) return 1500;
            if (Nibble(0, v) > Nibble(0, b)) return 1600;
            return Nibble(1, v) > Nibble(1, b) ? 1500 : 0;
        case kFourOfAKind:
            return bt >= kFourOfAKind ? HighCardCategory(v, b) : 1700;
        default:
            return bt < kStraightFlush || v > b ? 1800 : 0;
    }
}

}  // namespace

ClassifierBoard ClassifierBoardFromMask(CardMask cards) {
    ClassifierBoard board{};
    const int count = CardCount(cards);
    if (count < 3 || count > 5) return board;
    for (CardMask rest = cards; rest; rest &= rest - 1)
        board.cards[board.count++] = ClassifierCard(LowestCard(rest));
    return board;
}

void ClassifyMadeHands(int32_t out[kComboCount], ClassifierBoard board) {
    const uint64_t b = EvalClassifierBoard(board.cards, board.count);
    Entries entries;
    EvaluateEntries(entries, board.cards, board.count);
    for (int k = 0; k < kComboCount; ++k)
        out[k] = entries[k].value == 0 ? -1 : MadeHandValue(entries[k], b, board);
}

void ClassifyDraws(int32_t out[kComboCount], ClassifierBoard board) {
    if (board.count >= 5) return;
    Entries now, next;
    EvaluateEntries(now, board.cards, board.count);
    uint8_t straight_outs[kComboCount] = {}, flush_outs[kComboCount] = {};
    int32_t cards[5];
    for (int i = 0; i < board.count; ++i) cards[i] = board.cards[i];
    const uint64_t board_bits = BoardBits(board.cards, board.count);
    for (int c = 0; c < kCardCount; ++c) {
        if (board_bits & kEvaluatorBits[c]) continue;
        cards[board.count] = c;
        const int count = board.count + 1;
        EvaluateEntries(next, cards, count);
        // Only a river board is compared: on a turn board' every value beats 0.
        const uint64_t b = count == 5 ? EvalClassifierBoard(cards, count) : 0;
        for (int k = 0; k < kComboCount; ++k) {
            const uint64_t w = next[k].value;
            if (w <= b) continue;
            const uint32_t wt = HandValueType(static_cast<HandValue>(w));
            const uint32_t vt = HandValueType(static_cast<HandValue>(now[k].value));
            if (wt == kStraight && vt < kStraight) ++straight_outs[k];
            if ((wt == kFlush || wt == kStraightFlush) && vt < kFlush) ++flush_outs[k];
        }
    }
    for (int k = 0; k < kComboCount; ++k) {
        const int s = straight_outs[k], f = flush_outs[k];
        if (now[k].value == 0)
            out[k] = -1;
        else if (s == 0)
            out[k] = f == 0 ? 0 : 3;
        else
            out[k] = f == 0 ? s / 4 : 4;
    }
}

std::string CategoryNamesText() {
    std::string text;
    for (const char* name : MadeHandCategoryNames) text.append(name).push_back(' ');
    text.push_back('\n');
    for (const char* name : DrawCategoryNames) text.append(name).push_back(' ');
    text.append("\nEND\n");
    return text;
}

std::string CategoriesText(ClassifierBoard board) {
    int32_t made[kComboCount] = {}, draws[kComboCount] = {};
    ClassifyMadeHands(made, board);
    ClassifyDraws(draws, board);
    std::string text;
    text.reserve(kComboCount * 6 + 8);
    char number[16];
    for (int32_t value : made) {
        text.append(number, std::snprintf(number, sizeof number, "%d ", value / 100));
    }
    text.push_back('\n');
    for (int32_t value : draws) {
        text.append(number, std::snprintf(number, sizeof number, "%d ", value));
    }
    text.append("\nEND\n");
    return text;
}
