#include "cards/hand_classifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"

namespace {

// An independent reference written from the classifier's rules: its own card numbering
// (rank, suit), its own sort-and-count evaluator, outs counted by dealing every remaining card.
struct RefCard {
    int rank, suit;
    bool operator==(const RefCard&) const = default;
};
using RefCards = std::vector<RefCard>;

RefCards RefParse(const std::string& text) {
    RefCards cards;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        if (text[i] == ' ') ++i;
        cards.push_back({int(std::string("23456789TJQKA").find(text[i])),
                         int(std::string("cdhs").find(text[i + 1]))});
    }
    return cards;
}

// Ranks grouped by multiplicity (larger groups, then higher ranks first) fill the nibbles from
// bits 16-19 down; type in bits 24-27.
uint32_t GroupedValue(const RefCard* cards, int n) {
    int count[13] = {};
    for (int i = 0; i < n; ++i) ++count[cards[i].rank];
    int order[5], groups = 0;
    for (int mult = 4; mult >= 1; --mult)
        for (int r = 12; r >= 0; --r)
            if (count[r] == mult) order[groups++] = r;
    uint32_t value = 0;
    for (int i = 0; i < groups; ++i) value |= uint32_t(order[i]) << (16 - 4 * i);
    const int top = count[order[0]], second = groups > 1 ? count[order[1]] : 0;
    const uint32_t type = top == 4   ? 7
                          : top == 3 ? (second == 2 ? 6 : 3)
                          : top == 2 ? (second == 2 ? 2 : 1)
                                     : 0;
    return type << 24 | value;
}

// Highest straight in a rank set (ace also below the deuce), -1 when none.
int StraightTop(unsigned ranks) {
    for (int top = 12; top >= 3; --top) {
        bool run = true;
        for (int r = top; r > top - 5; --r) run = run && (ranks >> (r < 0 ? 12 : r) & 1);
        if (run) return top;
    }
    return -1;
}

// The best five-card value of 5..7 cards, by counting ranks and suits.
uint32_t RefBestOfMany(const RefCard* cards, int n) {
    int count[13] = {}, suit_count[4] = {};
    unsigned suit_ranks[4] = {}, ranks = 0;
    for (int i = 0; i < n; ++i) {
        ++count[cards[i].rank];
        ++suit_count[cards[i].suit];
        suit_ranks[cards[i].suit] |= 1u << cards[i].rank;
        ranks |= 1u << cards[i].rank;
    }
    // The highest `k` ranks with at least `mult` cards other than `skip1` and `skip2`.
    struct Picked {
        int rank[5];
        int size = 0;
    };
    auto pick = [&](int mult, int k, int skip1 = -1, int skip2 = -1) {
        Picked out;
        for (int r = 12; r >= 0 && out.size < k; --r)
            if (count[r] >= mult && r != skip1 && r != skip2) out.rank[out.size++] = r;
        return out;
    };
    auto pack = [](uint32_t type, std::initializer_list<int> order) {
        uint32_t v = type << 24, shift = 16;
        for (int r : order) v |= uint32_t(r) << shift, shift -= 4;
        return v;
    };
    for (int s = 0; s < 4; ++s)
        if (suit_count[s] >= 5) {
            const int top = StraightTop(suit_ranks[s]);
            if (top >= 0) return pack(8, {top});
        }
    if (Picked q = pick(4, 1); q.size) return pack(7, {q.rank[0], pick(1, 1, q.rank[0]).rank[0]});
    const Picked t = pick(3, 1);
    if (t.size) {
        if (Picked p = pick(2, 1, t.rank[0]); p.size) return pack(6, {t.rank[0], p.rank[0]});
    }
    for (int s = 0; s < 4; ++s)
        if (suit_count[s] >= 5) {
            int top[5], m = 0;
            for (int r = 12; r >= 0 && m < 5; --r)
                if (suit_ranks[s] >> r & 1) top[m++] = r;
            return pack(5, {top[0], top[1], top[2], top[3], top[4]});
        }
    if (const int top = StraightTop(ranks); top >= 0) return pack(4, {top});
    if (t.size) {
        const Picked rest = pick(1, 2, t.rank[0]);
        return pack(3, {t.rank[0], rest.rank[0], rest.rank[1]});
    }
    const Picked pairs = pick(2, 2);
    if (pairs.size == 2) {
        const int kicker = pick(1, 1, pairs.rank[0], pairs.rank[1]).rank[0];
        return pack(2, {pairs.rank[0], pairs.rank[1], kicker});
    }
    if (pairs.size == 1) {
        const Picked rest = pick(1, 3, pairs.rank[0]);
        return pack(1, {pairs.rank[0], rest.rank[0], rest.rank[1], rest.rank[2]});
    }
    const Picked high = pick(1, 5);
    return pack(0, {high.rank[0], high.rank[1], high.rank[2], high.rank[3], high.rank[4]});
}

// The value of 3..7 cards: grouped for 3 and 4, the best five from 5 on.
uint32_t RefValue(const RefCards& cards) {
    const int n = int(cards.size());
    return n < 5 ? GroupedValue(cards.data(), n) : RefBestOfMany(cards.data(), n);
}

uint32_t Nib(int i, uint32_t v) {
    return v >> (16 - 4 * i) & 15;
}

int RefHighCard(uint32_t v, uint32_t b) {
    for (int i = 0; i < 5; ++i)
        if (Nib(i, v) > Nib(i, b)) return Nib(i, v) == 12 ? 200 : Nib(i, v) == 11 ? 100 : 0;
    return 0;
}

int RefPairPosition(int rank, const RefCards& board) {
    std::vector<int> distinct;
    for (RefCard c : board)
        if (std::find(distinct.begin(), distinct.end(), c.rank) == distinct.end())
            distinct.push_back(c.rank);
    int above = 0;
    for (int r : distinct) above += r > rank;
    return 2 * above + (std::find(distinct.begin(), distinct.end(), rank) != distinct.end());
}

int RefMade(const RefCards& board, RefCard high, RefCard low) {
    RefCards all = board;
    all.push_back(high);
    all.push_back(low);
    const uint32_t v = RefValue(all), b = RefValue(board);
    const int t = int(v >> 24), bt = int(b >> 24);
    int p = RefPairPosition(high.rank, board);
    if (p % 2 == 0) p = RefPairPosition(low.rank, board);
    const int pair = p == 0 ? 900 : p == 1 ? 700 : p == 2 ? 600 : p == 3 ? 500 : p <= 5 ? 400 : 300;
    const int hc = RefHighCard(v, b);
    if (t == 0) return hc;
    if (t == 1) return bt == 1 ? hc : pair;
    if (t == 2) {
        if (bt == 0) return 1000;
        if (bt == 1) return pair;
        return Nib(0, v) > Nib(0, b) || Nib(1, v) > Nib(1, b) ? pair : hc;
    }
    if (t == 3) return bt == 0 ? 1200 : bt == 1 ? 1100 : hc;  // bt == 2 cannot occur
    if (t == 4) return bt >= 4 && v <= b ? hc : 1300;
    if (t == 5) return bt >= 5 ? 0 : 1400;
    if (t == 6) {
        if (bt < 6) return 1500;
        return Nib(0, v) > Nib(0, b) ? 1600 : Nib(1, v) > Nib(1, b) ? 1500 : 0;
    }
    if (t == 7) return bt >= 7 ? hc : 1700;
    return bt < 8 || v > b ? 1800 : 0;
}

int RefDraw(const RefCards& board, RefCard high, RefCard low) {
    const int n = int(board.size());
    RefCard hand[7], next_board[5];
    std::copy(board.begin(), board.end(), hand);
    std::copy(board.begin(), board.end(), next_board);
    hand[n] = high;
    hand[n + 1] = low;
    const int vt = int(RefBestOfMany(hand, n + 2) >> 24);
    int straight = 0, flush = 0;
    for (int rank = 0; rank < 13; ++rank)
        for (int suit = 0; suit < 4; ++suit) {
            const RefCard dealt{rank, suit};
            if (std::find(hand, hand + n + 2, dealt) != hand + n + 2) continue;
            next_board[n] = hand[n + 2] = dealt;
            const uint32_t b = n + 1 == 5 ? RefBestOfMany(next_board, 5) : 0;
            const uint32_t w = RefBestOfMany(hand, n + 3);
            const int wt = int(w >> 24);
            if (w <= b) continue;
            if ((wt == 5 || wt == 8) && vt < 5)
                ++flush;
            else if (wt == 4 && vt < 4)
                ++straight;
        }
    if (straight == 0) return flush ? 3 : 0;
    return flush ? 4 : straight / 4;
}

// Entry k of the canonical order: cards hi > lo of the numbering 4 * rank + suit.
std::vector<std::pair<RefCard, RefCard>> CanonicalCombos() {
    std::vector<std::pair<RefCard, RefCard>> combos;
    for (int hi = 1; hi < 52; ++hi)
        for (int lo = 0; lo < hi; ++lo) combos.push_back({{hi / 4, hi % 4}, {lo / 4, lo % 4}});
    return combos;
}

ClassifierBoard BoardOf(const std::string& text) {
    CardMask mask = 0;
    ParseCards(&mask, text.c_str());
    return ClassifierBoardFromMask(mask);
}

int CanonicalIndex(const std::string& hole) {
    const RefCards c = RefParse(hole);
    const int a = 4 * c[0].rank + c[0].suit, b = 4 * c[1].rank + c[1].suit;
    const int hi = std::max(a, b), lo = std::min(a, b);
    return hi * (hi - 1) / 2 + lo;
}

class HandClassifier : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
};

// Both category arrays equal the reference on random boards of each size and on boards of every
// made-hand and suit type.
TEST_F(HandClassifier, MatchesBruteForceReference) {
    std::vector<std::string> boards = {
        "KhKd8c",     "7s7h7d",     "KhKd8c8s",   "KhKdKc8s8d", "9s9h9d9c",   "9s9h9d9c2d",
        "Ah9h4h",     "Ah9h4h2h",   "Ah9h7h4h2h", "9c8d7h6s5c", "5h6h7h8h9h", "Ah2d3c",
        "Ah2d3c4s5h", "Ah2h3h4h5h", "4c5d6h7s",   "ThJhQhKh",   "2c2d3c3d3h", "KcKdKh",
        "2c2d2h2s",   "QsJsTs",     "AsKsQsJsTs", "7c7d2h2s",   "7c7d2h2sKs", "8h8d8c5s",
        "6d5d4d",     "Ac2c3c4c",   "TdJdQdKdAd", "3s3h8s8h8d", "JcJdTsTh2c", "6c6d6h2c2d"};
    std::mt19937 rng(19);
    const char* ranks = "23456789TJQKA";
    const char* suits = "cdhs";
    for (int size : {3, 4, 5}) {
        const int count = size == 3 ? 150 : size == 4 ? 100 : 200;
        for (int n = 0; n < count; ++n) {
            std::vector<int> deck(52);
            for (int i = 0; i < 52; ++i) deck[i] = i;
            std::shuffle(deck.begin(), deck.end(), rng);
            std::string text;
            for (int i = 0; i < size; ++i) {
                text += ranks[deck[i] / 4];
                text += suits[deck[i] % 4];
            }
            boards.push_back(text);
        }
    }
    const auto combos = CanonicalCombos();
    for (const std::string& text : boards) {
        const RefCards board = RefParse(text);
        int32_t made[kComboCount], draws[kComboCount];
        std::fill(draws, draws + kComboCount, 77);
        ClassifyMadeHands(made, BoardOf(text));
        ClassifyDraws(draws, BoardOf(text));
        for (int k = 0; k < kComboCount; ++k) {
            const auto [high, low] = combos[k];
            const bool blocked = std::find(board.begin(), board.end(), high) != board.end() ||
                                 std::find(board.begin(), board.end(), low) != board.end();
            ASSERT_EQ(made[k], blocked ? -1 : RefMade(board, high, low)) << text << " k=" << k;
            const int draw = board.size() == 5 ? 77 : blocked ? -1 : RefDraw(board, high, low);
            ASSERT_EQ(draws[k], draw) << text << " k=" << k;
        }
    }
}

// Each edge case of the rules on one combination.
TEST_F(HandClassifier, EdgeCases) {
    struct Case {
        const char* board;
        const char* hole;
        int made;  // category x 100
        int draw;  // -2: not checked
    };
    const Case cases[] = {
        {"Kh8d3c", "AsAd", 900, -2},       // overpair
        {"Kh8d3c", "TsTd", 600, -2},       // pair between top and second board rank
        {"Kh8d3c", "2s2d", 300, -2},       // below three distinct board ranks
        {"Kh8d3c", "Ks2d", 700, -2},       // top pair, weak kicker
        {"Kh8d3c", "KsAd", 700, -2},       // top pair, strong kicker: never "top_pair_tp"
        {"KhKd8c", "As2d", 200, -2},       // plays the board's pair: ace beats the board
        {"QhQd5c", "Ks2d", 100, -2},       // king beats the board
        {"QhQd5c", "Js2d", 0, -2},         // nothing better than a king
        {"KhKd8c", "8s4c", 500, -2},       // board ranks counted once: K above, 8 on board
        {"Kh8d3c", "8s8c", 1200, -2},      // set
        {"8h8d3c", "8s4c", 1100, -2},      // trips
        {"Ah9h7h4h2h", "Qh3c", 0, -2},     // flush on a flush board
        {"Ah9h7h4h2h", "Kc3c", 0, -2},     // plays the board flush
        {"Ah9h7h4h", "Kh3c", 1400, -2},    // flush made by the hand
        {"5h6h7h8h9h", "2c3c", 0, -2},     // straight flush not beating the board's
        {"5h6h7h8h9h", "Th2c", 1800, -2},  // higher straight flush
        {"2h2d2cKsKd", "Kh3c", 1600, -2},  // first nibble beats the board's
        {"KhKdKc2s2d", "AsAc", 1500, -2},  // only the second nibble beats it
        {"KhKdKc2s2d", "4s3c", 0, -2},     // plays the board's full house
        {"9d8h2c", "6s5c", 0, 1},          // gutshot: 4 outs
        {"9d8h2c", "7s6c", 0, 2},          // open-ended: 8 outs
        {"Kh8h2c", "Ah3h", 200, 3},        // flush draw
        {"9h8h2c", "7h6h", 0, 4},          // straight and flush draw
        {"AhKh8h7h", "6c5d", 0, 1},        // 6 straight outs: the two hearts only tie the board
        {"Kh8d3c", "Kh2s", -1, -1},        // blocked
    };
    for (const Case& c : cases) {
        int32_t made[kComboCount], draws[kComboCount];
        ClassifyMadeHands(made, BoardOf(c.board));
        ClassifyDraws(draws, BoardOf(c.board));
        const int k = CanonicalIndex(c.hole);
        EXPECT_EQ(made[k], c.made) << c.board << " " << c.hole;
        if (c.draw != -2) {
            EXPECT_EQ(draws[k], c.draw) << c.board << " " << c.hole;
        }
    }
}

}  // namespace
