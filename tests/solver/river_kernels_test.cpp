// Payoff kernels and reach flags on the river lists of real boards, against an O(n^2)
// reference built from the evaluator's hand values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "solver/blocker_flags.h"
#include "solver/payoff_kernels.h"
#include "solver/river_scratch.h"

namespace {

// Five distinct cards shaped like the hard cases: paired, trips, three to five of a suit,
// straights, or random.
std::vector<int> ShapedBoard(std::mt19937& rng, int shape) {
    std::vector<int> cards;
    auto add = [&](int c) {
        if (std::find(cards.begin(), cards.end(), c) == cards.end()) cards.push_back(c);
    };
    const int r = static_cast<int>(rng() % 13);
    const int s = static_cast<int>(rng() % 4);
    switch (shape) {
        case 0:
            add(r);
            add(r + 13);
            break;  // pair
        case 1:
            add(r);
            add(r + 13);
            add(r + 26);
            break;  // trips
        case 2:
            add(13 * s + r);
            add(13 * s + (r + 4) % 13);
            add(13 * s + (r + 7) % 13);
            break;
        case 3:  // four or five of a suit
            for (int k = 0; k < 4 + static_cast<int>(rng() % 2); ++k)
                add(13 * s + static_cast<int>(rng() % 13));
            break;
        case 4:  // straight-ish run of ranks
            for (int k = 0; k < 4; ++k) add(13 * static_cast<int>(rng() % 4) + (r + k) % 13);
            break;
        default:
            break;
    }
    while (cards.size() < 5) add(static_cast<int>(rng() % 52));
    cards.resize(5);
    std::shuffle(cards.begin(), cards.end(), rng);
    return cards;
}

// A river-rooted hand set: one record with one river record.
std::unique_ptr<HandSet> RiverSet(const std::vector<int>& board, const std::vector<double>& r0,
                                  const std::vector<double>& r1) {
    CardMask flop = CardBit(board[0]) | CardBit(board[1]) | CardBit(board[2]);
    auto set = std::make_unique<HandSet>(&flop, board[3], board[4], 0);
    EXPECT_TRUE(SetHoles(set.get(), r0.data(), r1.data()));
    return set;
}

std::vector<float> ReachFor(std::mt19937& rng, const RiverRecord& rec, double zeroShare) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<float> reach(rec.hands.size());
    for (float& r : reach) {
        double x = u(rng);
        r = x < zeroShare ? ((rng() & 1) ? 0.0f : -0.0f)
                          : (x < zeroShare + 0.02 ? 1e-40f : static_cast<float>(u(rng)));
    }
    return reach;
}

void CheckBoard(std::mt19937& rng, int shape) {
    std::vector<int> board = ShapedBoard(rng, shape);
    std::vector<double> r0(kComboCount), r1(kComboCount);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double live = 0.3 + 0.7 * u(rng);
    for (int k = 0; k < kComboCount; ++k) {
        r0[k] = u(rng) < live ? 1.0 : 0.0;
        r1[k] = u(rng) < live ? 0.5 : 0.0;
    }
    auto set = RiverSet(board, r0, r1);
    const RiverRecord& rec = set->records[0].rivers[0];
    const int n = static_cast<int>(rec.hands.size());
    if (n == 0) return;
    ASSERT_LE(n, payoff::kMaxRiverHands);
    ASSERT_LE(static_cast<int>(rec.runLengths.size()), payoff::kMaxRiverRuns);
    std::vector<float> reach = ReachFor(rng, rec, 0.3);
    BuildBlockerFlags(ThreadRiverScratch()->groupFlags, reach.data(), rec);
    const uint8_t* pairs = reinterpret_cast<const uint8_t*>(rec.pairs.data());
    const float s = 1.25f;
    std::vector<float> sd(n), fd(n);
    ShowdownValues(sd.data(), reach.data(), n, rec.runLengths.data(), pairs, s);
    FoldValues(fd.data(), reach.data(), n, pairs, -s);
    double total = 0;
    for (float r : reach)
        if (r > 0) total += r;
    const double tol = 1e-5 * s * std::max(1.0, total);
    for (int i = 0; i < n; ++i) {
        double wantS = 0, wantF = 0;
        for (int j = 0; j < n; ++j) {
            if (j == i || (rec.hands[i] & rec.hands[j]) != 0 || !(reach[j] > 0)) continue;
            wantF -= s * reach[j];
            if (rec.strengths[j] < rec.strengths[i]) wantS += s * reach[j];
            if (rec.strengths[j] > rec.strengths[i]) wantS -= s * reach[j];
        }
        ASSERT_NEAR(sd[i], wantS, tol) << "hand " << i;
        ASSERT_NEAR(fd[i], wantF, tol) << "hand " << i;
    }
}

class RiverKernels : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitHandEvalTables(); }
};

TEST_F(RiverKernels, RealBoardsAgreeWithReference) {
    std::mt19937 rng(31337);
    for (int round = 0; round < 60; ++round) CheckBoard(rng, round % 6);
}

class LongRiverKernels : public RiverKernels {};

TEST_F(LongRiverKernels, ThousandsOfRealBoards) {
    std::mt19937 rng(8675309);
    for (int round = 0; round < 1500; ++round) CheckBoard(rng, round % 6);
}

// The flag words by the run rule, hand by hand.
std::vector<uint16_t> RuleFlags(const std::vector<float>& reach, const std::vector<int16_t>& runs) {
    std::vector<uint16_t> flags;
    int start = 0;
    for (const int length : runs) {
        uint32_t want = 0;
        for (int k = 0; k < length; ++k) {
            uint32_t bits;
            std::memcpy(&bits, &reach[start + k], 4);
            if (bits != 0) want |= length <= 16 ? (1u << k) : 1u;
        }
        flags.push_back(static_cast<uint16_t>(want));
        start += length;
    }
    return flags;
}

TEST_F(RiverKernels, BlockerFlagsFollowTheRunRule) {
    std::mt19937 rng(17);
    for (int round = 0; round < 40; ++round) {
        std::vector<int> board = ShapedBoard(rng, round % 6);
        std::vector<double> full(kComboCount, 1.0);
        auto set = RiverSet(board, full, full);
        const RiverRecord& rec = set->records[0].rivers[0];
        std::vector<float> reach = ReachFor(rng, rec, 0.6);
        // Sprinkle values whose bit pattern is non-zero although they compare equal to zero.
        for (size_t i = 0; i < reach.size(); i += 37) reach[i] = -0.0f;
        std::vector<uint16_t> flags(rec.runLengths.size(), 0xABCD);
        BuildBlockerFlags(flags.data(), reach.data(), rec);
        ASSERT_EQ(flags, RuleFlags(reach, rec.runLengths));
        BuildBlockerFlags(flags.data(), nullptr, rec);
        for (uint16_t w : flags) EXPECT_EQ(w, 0);
    }
}

// Every run length alone in a row (so the run ends at the row's end), behind a run of three
// (unaligned), and between others; each hand in turn the only one with a non-zero pattern.
TEST(BlockerFlags, EveryRunLengthAndHandUpToTheRowEnd) {
    std::vector<std::vector<int16_t>> layouts;
    for (int16_t length = 1; length <= 41; ++length) {
        layouts.push_back({length});
        layouts.push_back({3, length});
        layouts.push_back({length, 9, length});
    }
    for (const std::vector<int16_t>& runs : layouts) {
        RiverRecord rec(0, 0, 1);
        for (size_t g = 0; g < runs.size(); ++g) {
            rec.strengths.insert(rec.strengths.end(), runs[g], static_cast<int32_t>(g));
        }
        GroupEqualStrengths(&rec);
        ASSERT_EQ(rec.runLengths, runs);
        const int n = static_cast<int>(rec.strengths.size());
        // Exactly n floats, so a read past the row is a sanitizer fault.
        for (const float value : {-0.0f, 1e-40f, 1.0f}) {
            for (int hand = -1; hand <= n; ++hand) {
                std::vector<float> reach(n, hand == n ? value : 0.0f);
                if (hand >= 0 && hand < n) reach[hand] = value;
                std::vector<uint16_t> flags(runs.size(), 0xABCD);
                BuildBlockerFlags(flags.data(), reach.data(), rec);
                ASSERT_EQ(flags, RuleFlags(reach, runs))
                    << "first run " << runs[0] << " hand " << hand;
            }
        }
    }
}

}  // namespace
