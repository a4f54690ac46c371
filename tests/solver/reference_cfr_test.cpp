// The reference CFR against an equilibrium derived here in closed form, so the solver is
// compared with something known to be right.
#include "reference_cfr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "cards/cards.h"

namespace {

CardMask Cards(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

void AddCombos(std::vector<double>& range, CardMask board, int rankA, int rankB) {
    for (int s1 = 0; s1 < 4; ++s1)
        for (int s2 = 0; s2 < 4; ++s2) {
            const int a = MakeCard(rankA, s1), b = MakeCard(rankB, s2);
            if (a == b || (board & (CardBit(a) | CardBit(b)))) continue;
            range[ComboIndex(std::min(a, b), std::max(a, b))] = 1.0;
        }
}

// Pot 100, OOP bets 50 or checks; IP calls or folds a bet and checks behind a check. OOP holds
// AA (beats everything) and 65 (loses to everything), IP only JJ; no card of one class touches
// another, so removal treats them alike. IP calls P / (P + B) = 2/3 to keep the bluffs
// indifferent; OOP bets every AA and bluffs b = V * B / (P + B) = 2 of the 16 combinations of
// 65 (12.5 %) so that IP is indifferent.
RefGame PolarisedRiver() {
    RefGame game;
    game.board = Cards("Kh Qd 7c 4s 2h");
    game.lines = {
        {0, -1, 0, 3, 0.0},   // 0 OOP
        {0, 0, 1, 3, 0.0},    // 1 bet 50: IP to act
        {1, 1, -1, -1, 100},  // 2 call
        {2, 1, -1, -1, 50},   // 3 fold
        {0, 0, 1, 3, 0.0},    // 4 check: IP to act
        {1, 4, -1, -1, 50},   // 5 check behind
    };
    game.range[0].assign(1326, 0.0);
    game.range[1].assign(1326, 0.0);
    AddCombos(game.range[0], game.board, 12, 12);  // AA
    AddCombos(game.range[0], game.board, 4, 3);    // 65
    AddCombos(game.range[1], game.board, 9, 9);    // JJ
    return game;
}

int Combo(const char* text) {
    const CardMask m = Cards(text);
    return ComboIndex(LowestCard(m), HighestCard(m));
}

TEST(ReferenceCfr, PolarisedRiverReachesTheClosedFormEquilibrium) {
    ReferenceCfr cfr(PolarisedRiver(), 4.0, std::numeric_limits<double>::max());
    for (int t = 0; t < 2000; ++t) cfr.Iterate();
    const RefEvaluation e = cfr.Evaluate();
    EXPECT_LT(e.exploitability, 0.001 * 100);
    EXPECT_NEAR(e.value[0] + e.value[1], 0.0, 1e-9) << "values net of half the pot sum to 0";

    double bluff = 0;
    for (const char* hand : {"6c5c", "6c5d", "6d5c", "6h5s", "6s5h"})
        bluff += cfr.EvaluationStrategy(0, -1, Combo(hand))[0];
    EXPECT_NEAR(cfr.EvaluationStrategy(0, -1, Combo("AcAd"))[0], 1.0, 0.02);
    EXPECT_NEAR(bluff / 5, 0.125, 0.02);
    EXPECT_NEAR(cfr.EvaluationStrategy(1, -1, Combo("JcJd"))[0], 2.0 / 3.0, 0.02);
}

TEST(ReferenceCfr, FirstIterationFollowsTheUpdateRule) {
    // Iteration 1, player 1 first: IP at node 1 faces OOP's default 0.9 bet with every hand.
    ReferenceCfr cfr(PolarisedRiver(), 4.0, std::numeric_limits<double>::max());
    cfr.Iterate();
    const int jj = Combo("JcJd");
    // Reach of OOP's bet: 0.9 for all 22 OOP combinations. Call: 100 * (16 - 6) * 0.9 = 900;
    // fold: -50 * 22 * 0.9 = -990; node value (0.9 call, 0.1 fold) = 810 - 99 = 711.
    EXPECT_NEAR(cfr.Regret(1, -1, jj, 0), std::pow(900.0 - 711.0, 0.75), 1e-9);
    EXPECT_EQ(cfr.Regret(1, -1, jj, 1), 0.0);
    EXPECT_EQ(cfr.StrategySum(0, -1, Combo("AcAd"), 0), 0.0) << "no sums before t = 61";
}

}  // namespace
