#include "interpreter/situation.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <string>
#include <vector>

#include "cards/cards.h"
#include "interpreter/combo_order.h"
#include "interpreter/command_loop.h"
#include "interpreter/console_state.h"
#include "solver/solver_settings.h"
#include "utilities/kernel_switches.h"
#include "utilities/output.h"

namespace {

// Runs one line through the dispatcher and returns its replies.
std::string reply(const std::string& line) {
    clear_output_buffer();
    CommandWords words = split_words(line);
    dispatch_command(words);
    std::string text = output_buffer();
    clear_output_buffer();
    return text;
}

// set_range with the given weight at every canonical position, then some exceptions.
std::string range_line(const std::string& player,
                       const std::vector<std::pair<int, std::string>>& exceptions = {},
                       const std::string& fill = "0") {
    std::vector<std::string> weights(kComboCount, fill);
    for (const auto& [k, w] : exceptions) weights[k] = w;
    std::string line = "set_range " + player;
    for (const std::string& w : weights) line += " " + w;
    return line;
}

CardMask cards(const char* text) {
    CardMask mask = 0;
    ParseCards(&mask, text);
    return mask;
}

class SituationTest : public testing::Test {
protected:
    void SetUp() override {
        build_combo_tables();
        Verbosity = 0;
        PotValues = {0, 0, 100};
    }
    void TearDown() override {
        Verbosity = 0;
        PlayerRanges = {};
        BoardMasks = {0, 0, 0};
        PotValues = {0, 0, 100};
        AccuracySetting = 0;
        AccuracyIsFraction = false;
        libsubgame_set_target_accuracy(0);
    }
};

TEST_F(SituationTest, RangesArriveInComboIndexOrder) {
    // Canonical position 0 is 2d2c (ComboIndex 78), position 1325 AsAh (ComboIndex 1313).
    EXPECT_EQ(reply(range_line("OOP", {{0, "1"}, {1325, "2"}, {6, "-3"}, {10, "0.5xyz"}})),
              "set_range ok!\n");
    const ComboRange& oop = PlayerRanges[0];
    ASSERT_EQ(oop.size(), 1326u);
    EXPECT_EQ(oop[78], 1.0);
    EXPECT_EQ(oop[1313], 2.0);  // weights are not capped
    EXPECT_EQ(oop[0], 0.0);     // 3c2c was -3
    EXPECT_EQ(oop[91], 0.5);    // 3d2c, the rest of the word ignored
    double sum = 0;
    for (double w : oop) sum += w;
    EXPECT_EQ(sum, 3.5);

    EXPECT_EQ(reply(range_line("hero", {{0, "1"}, {1325, "2"}, {6, "-3"}, {10, "0.5"}})),
              "set_range ok!\n");
    EXPECT_EQ(PlayerRanges[0], oop);
    EXPECT_TRUE(PlayerRanges[1].empty());
    EXPECT_EQ(reply(range_line("villain", {}, "1")), "set_range ok!\n");
    EXPECT_EQ(PlayerRanges[1], ComboRange(1326, 1.0));
}

TEST_F(SituationTest, BadRangesKeepThePreviousOne) {
    reply(range_line("IP", {}, "0.25"));
    const ComboRange before = PlayerRanges[1];
    EXPECT_EQ(reply(range_line("oop")), "ERROR: set_range incorrect player name\n");
    EXPECT_EQ(reply(range_line("IP", {{700, "nan"}})), "Invalid value\n");
    EXPECT_EQ(reply(range_line("IP", {{1325, "inf"}})), "Invalid value\n");
    EXPECT_EQ(reply(range_line("IP", {{3, "x"}})), "Invalid value\n");
    EXPECT_EQ(reply(range_line("IP") + " 1"), "ERROR: set_range incorrect or missing argument\n");
    EXPECT_EQ(PlayerRanges[1], before);
}

TEST_F(SituationTest, TinyWeightsBecomeZero) {
    Verbosity = 1;
    EXPECT_EQ(reply(range_line("OOP", {}, "0.000001")), "[set_range min 0 max 0]\nset_range ok!\n");
    EXPECT_EQ(PlayerRanges[0], ComboRange(1326, 0.0));
    EXPECT_EQ(reply(range_line("OOP", {{5, "0.00001"}, {9, "1e-6"}}, "0.5")),
              "[set_range min 0 max 0.5]\nset_range ok!\n");
}

TEST_F(SituationTest, BoardWordsAndDuplicates) {
    EXPECT_EQ(reply("set_board Ks 7h 2d"), "set_board ok!\n");
    EXPECT_EQ(BoardMasks[0], cards("Ks7h2d"));
    EXPECT_EQ(BoardMasks[1], 0u);
    EXPECT_EQ(reply("set_board ks 7h 2d 9c Ah"), "set_board ok!\n");
    EXPECT_EQ(BoardMasks[2], cards("Ah"));
    const auto before = BoardMasks;
    EXPECT_EQ(reply("set_board Ks 7h 2d Ks"), "ERROR: set_board duplicate cards\n");
    EXPECT_EQ(reply("set_board Ks 7h 2d 9c 9c"), "ERROR: set_board duplicate cards\n");
    for (const char* bad : {"set_board Ks Ks 2d", "set_board Ks 7h", "set_board Ks7h 2d 9c 8c",
                            "set_board Ks 7h 2d 9c8c", "set_board Ks 7h 2d 9c 8c 3c"})
        EXPECT_EQ(reply(bad), "ERROR: set_board incorrect or missing argument\n") << bad;
    EXPECT_EQ(reply("set_board KsKs 7h 2d"), "ERROR: invalid card\n");
    EXPECT_EQ(reply(std::string("set_board Ks\0Qd 7h 2d", 21)), "ERROR: invalid card\n");
    EXPECT_EQ(BoardMasks, before);
}

TEST_F(SituationTest, PotIsReadAsIntegers) {
    EXPECT_EQ(reply("set_pot 1 2.9 120.7"), "set_pot ok!\n");
    EXPECT_EQ(PotValues, (std::array<double, 3>{1, 2, 120}));
    EXPECT_EQ(reply("set_pot 0 0 x"), "Invalid value\n");
    EXPECT_EQ(reply("set_pot 0 0 99999999999"), "Invalid value\n");
    EXPECT_EQ(PotValues[2], 120);
}

TEST_F(SituationTest, AccuracyFollowsThePotOnlyAsAFraction) {
    Verbosity = 1;
    EXPECT_EQ(reply("set_accuracy 0.005 fraction"),
              "[accuracy 0.5 (0.005 fraction)]\nset_accuracy ok!\n");
    EXPECT_EQ(libsubgame_get_target_accuracy(), 0.5);
    EXPECT_EQ(reply("set_pot 0 0 200"), "[accuracy 1 (0.005 fraction)]\nset_pot ok!\n");
    EXPECT_EQ(libsubgame_get_target_accuracy(), 1.0);
    EXPECT_EQ(reply("set_accuracy 2"), "[accuracy 2 (0.01 fraction)]\nset_accuracy ok!\n");
    EXPECT_EQ(reply("set_pot 0 0 50"), "[accuracy 2 (0.04 fraction)]\nset_pot ok!\n");
    EXPECT_EQ(libsubgame_get_target_accuracy(), 2.0);
    EXPECT_EQ(reply("set_accuracy 0.5 fractions extra"),
              "[accuracy 0.5 (0.01 fraction)]\nset_accuracy ok!\n");
    EXPECT_EQ(reply("set_accuracy -0"), "[accuracy 0 (0 fraction)]\nset_accuracy ok!\n");
    reply("set_accuracy 0.5 fractions extra");
    Verbosity = 0;
    for (const char* bad : {"set_accuracy nan", "set_accuracy inf", "set_accuracy x"})
        EXPECT_EQ(reply(bad), "Invalid value\n") << bad;
    EXPECT_EQ(reply("set_accuracy -1"), "ERROR: set_accuracy incorrect or missing argument\n");
    EXPECT_EQ(reply("set_accuracy"), "ERROR: set_accuracy incorrect or missing argument\n");
    EXPECT_EQ(libsubgame_get_target_accuracy(), 0.5);
    EXPECT_FALSE(AccuracyIsFraction);
}

TEST_F(SituationTest, RecalcAccuracyUsesThePotOfThatMoment) {
    EXPECT_EQ(reply("set_recalc_accuracy 0.01 0.02 0.03"), "set_recalc_accuracy ok!\n");
    EXPECT_DOUBLE_EQ(libsubgame_get_recalc_accuracy(1), 1.0);
    EXPECT_DOUBLE_EQ(libsubgame_get_recalc_accuracy(2), 2.0);
    EXPECT_DOUBLE_EQ(libsubgame_get_recalc_accuracy(3), 3.0);
    reply("set_pot 0 0 400");
    EXPECT_DOUBLE_EQ(libsubgame_get_recalc_accuracy(2), 2.0);
    EXPECT_EQ(reply("set_recalc_accuracy 0.01 nan 0.03"), "Invalid value\n");
    EXPECT_DOUBLE_EQ(libsubgame_get_recalc_accuracy(2), 2.0);
    libsubgame_set_recalc_accuracy(0, 0, 0);
}

TEST_F(SituationTest, ThreadCountIsClamped) {
    const int before = libsubgame_get_thread_count();
    EXPECT_EQ(reply("set_threads 0"), "set_threads ok!\n");
    EXPECT_EQ(libsubgame_get_thread_count(), omp_get_max_threads());
    EXPECT_EQ(reply("qx7_set_threads 3"), "qx7_set_threads ok!\n");
    EXPECT_EQ(libsubgame_get_thread_count(), 3);
    EXPECT_EQ(reply("set_threads 5000"), "set_threads ok!\n");
    EXPECT_EQ(libsubgame_get_thread_count(), 1024);
    EXPECT_EQ(reply("set_threads -4"), "set_threads ok!\n");
    EXPECT_EQ(libsubgame_get_thread_count(), omp_get_max_threads());
    EXPECT_EQ(reply("set_threads many"), "Invalid value\n");
    libsubgame_set_thread_count(before);
}

TEST_F(SituationTest, SwitchesWriteTheSharedAtomics) {
    EXPECT_EQ(reply("set_simd_level 3"), "set_simd_level ok!\n");
    EXPECT_EQ(simd_level.load(), 3);
    EXPECT_EQ(reply("set_simd_level 9"), "ERROR: set_simd_level incorrect or missing argument\n");
    EXPECT_EQ(reply("set_simd_level 0"), "ERROR: set_simd_level incorrect or missing argument\n");
    EXPECT_EQ(simd_level.load(), 3);
    reply("set_simd_level 8");

    EXPECT_EQ(reply("enable_avx512 1"), "enable_avx512 ok!\n");
    EXPECT_EQ(avx512_enabled.load(), 1);
    EXPECT_EQ(reply("enable_avx512 01"), "ERROR: enable_avx512 incorrect or missing argument\n");
    EXPECT_EQ(reply("enable_avx512 0"), "enable_avx512 ok!\n");
    EXPECT_EQ(avx512_enabled.load(), 0);

    EXPECT_EQ(reply("enable_river_strategy 0"), "enable_river_strategy ok!\n");
    EXPECT_EQ(river_strategy_enabled.load(), 0);
    EXPECT_EQ(reply("enable_river_strategy yes"),
              "ERROR: enable_river_strategy incorrect or missing argument\n");
    EXPECT_EQ(reply("enable_river_strategy 1"), "enable_river_strategy ok!\n");
    EXPECT_EQ(river_strategy_enabled.load(), 1);

    EXPECT_EQ(reply("set_scheduler 0"), "set_scheduler ok!\n");
    EXPECT_EQ(SchedulerMode, 0);
    EXPECT_EQ(reply("set_scheduler 2"), "ERROR: set_scheduler incorrect or missing argument\n");
    EXPECT_EQ(reply("set_scheduler 1"), "set_scheduler ok!\n");
    EXPECT_EQ(SchedulerMode, 1);
}

TEST_F(SituationTest, IsomorphismWordsAreComparedWithZero) {
    EXPECT_EQ(reply("set_isomorphism 0 1"), "set_isomorphism ok!\n");
    EXPECT_EQ(IsomorphismByStreet, (std::array<uint8_t, 4>{1, 0, 1, 0}));
    EXPECT_EQ(reply("set_isomorphism 00 0"), "set_isomorphism ok!\n");
    EXPECT_EQ(IsomorphismByStreet, (std::array<uint8_t, 4>{1, 1, 0, 0}));
}

TEST_F(SituationTest, Reports) {
    EXPECT_EQ(reply("show_settings"), "END\n");
    EXPECT_EQ(reply("show_tree_params"),
              "board: \npot: 0 0 100\nbet_sizes: \ndonk_bet: FALSE\nEND\n");
    reply("set_board Ah Kc 2d 9c Ts");
    EXPECT_EQ(reply("show_tree_params"),
              "board: Kc 2d Ah 9c Ts\npot: 0 0 100\nbet_sizes: \ndonk_bet: FALSE\nEND\n");
    EXPECT_EQ(reply("get_instruction_set"), "AVX2\n");  // start-up refuses anything less
    EXPECT_EQ(reply("qx7_get_instruction_set"), "AVX2\n");
    EXPECT_EQ(reply("set_eff_stack anything"), "set_eff_stack ok!\n");
    EXPECT_EQ(reply("ignore_mem_check off"), "ignore_mem_check ok!\n");
    EXPECT_EQ(reply("ignore_mem_check maybe"),
              "ERROR: ignore_mem_check incorrect or missing argument\n");
}

}  // namespace
