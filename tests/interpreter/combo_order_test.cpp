#include "interpreter/combo_order.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "utilities/output.h"

namespace {

class ComboOrder : public testing::Test {
protected:
    static void SetUpTestSuite() { build_combo_tables(); }
};

// Worked values: k = hi*(hi-1)/2 + lo over user cards 4*rank+suit; ComboIndex over mask cards
// 13*suit+rank. "2d2c" = mask cards {0, 13} -> 13*12/2 + 0 = 78; "3c2c" = {0, 1} -> 0;
// "3d2c" = {0, 14} -> 14*13/2 = 91; "AsAh" = {38, 51} -> 51*50/2 + 38 = 1313.
TEST_F(ComboOrder, WorkedValues) {
    EXPECT_EQ(std::strlen(HandOrderText), static_cast<size_t>(kHandOrderTextLength));
    EXPECT_EQ(std::string(HandOrderText, 39), "2d2c 2h2c 2h2d 2s2c 2s2d 2s2h 3c2c 3c2d");
    EXPECT_EQ(std::string(HandOrderText + kHandOrderTextLength - 14), "AsAc AsAd AsAh");
    EXPECT_EQ(HandOrderToCombo[0], 78);
    EXPECT_EQ(HandOrderToCombo[6], 0);
    EXPECT_EQ(HandOrderToCombo[10], 91);
    EXPECT_EQ(HandOrderToCombo[1325], 1313);
    EXPECT_EQ(HandOrderMasks[0], CardBit(0) | CardBit(13));
    EXPECT_EQ(combo_name(0), "2d2c");
    EXPECT_EQ(combo_name(1325), "AsAh");
    EXPECT_EQ(HandClassCombos[0], (std::vector<uint16_t>{78, 325, 338, 741, 754, 767}));
    EXPECT_EQ(HandClassCombos[168], (std::vector<uint16_t>{312, 715, 728, 1287, 1300, 1313}));
}

TEST_F(ComboOrder, MapsAreInverseAndFollowTheTextFormula) {
    std::vector<int> seen(kComboCount, 0);
    for (int k = 0; k < kComboCount; ++k) {
        ASSERT_EQ(ComboToHandOrder[HandOrderToCombo[k]], k);
        ++seen[HandOrderToCombo[k]];
        // The name read back through the user numbering gives k again.
        const std::string name = combo_name(k);
        const auto user = [&](int at) {
            return 4 * static_cast<int>(std::strchr("23456789TJQKA", name[at]) - "23456789TJQKA") +
                   static_cast<int>(std::strchr("cdhs", name[at + 1]) - "cdhs");
        };
        const int hi = user(0), lo = user(2);
        ASSERT_GT(hi, lo);
        ASSERT_EQ(hi * (hi - 1) / 2 + lo, k);
        ASSERT_EQ(ComboIndex(HandOrderMasks[k]), HandOrderToCombo[k]);
    }
    for (int c = 0; c < kComboCount; ++c) EXPECT_EQ(seen[c], 1);
}

TEST_F(ComboOrder, HandClassesHoldEveryCombinationOnce) {
    std::vector<int> seen(kComboCount, 0);
    for (int cls = 0; cls < kHandClassCount; ++cls) {
        const int row = cls / 13, column = cls % 13;
        const size_t want = row == column ? 6 : (row < column ? 4 : 12);  // pair, suited, offsuit
        ASSERT_EQ(HandClassCombos[cls].size(), want) << cls;
        int previous = -1;
        for (uint16_t combo : HandClassCombos[cls]) {
            ++seen[combo];
            EXPECT_GT(ComboToHandOrder[combo], previous);
            previous = ComboToHandOrder[combo];
            const CardMask hand = HandOrderMasks[ComboToHandOrder[combo]];
            const int a = LowestCard(hand), b = HighestCard(hand);
            const bool suited = CardSuit(a) == CardSuit(b);
            EXPECT_EQ(suited, row < column);
        }
    }
    for (int c = 0; c < kComboCount; ++c) EXPECT_EQ(seen[c], 1);
}

TEST_F(ComboOrder, RemapRoundTrip) {
    std::vector<double> inCombo(kComboCount);
    for (int c = 0; c < kComboCount; ++c) inCombo[c] = c;
    std::vector<double> canonical, back;
    remap_combo_values(canonical, HandOrderToCombo, inCombo);
    EXPECT_EQ(canonical[0], 78.0);
    EXPECT_EQ(canonical[1325], 1313.0);
    remap_combo_values(back, ComboToHandOrder, canonical);
    EXPECT_EQ(back, inCombo);
    // In place.
    remap_combo_values(back, HandOrderToCombo, back);
    EXPECT_EQ(back, canonical);
}

TEST_F(ComboOrder, ValueLinesAndOrderReply) {
    clear_output_buffer();
    print_value_line({0.25, std::nan(""), 1}, "%.12g", "0");
    EXPECT_EQ(output_buffer(), "0.25 0 1\n");
    clear_output_buffer();
    print_value_line({}, "%.12g", "nan");
    EXPECT_EQ(output_buffer(), "\n");
    clear_output_buffer();
    // A NaN text holding a percent sign is written verbatim.
    print_value_line({std::nan(""), 0.5}, "%.9g", "%s");
    EXPECT_EQ(output_buffer(), "%s 0.5\n");
    clear_output_buffer();
    // 1326 of the longest values stay well inside the line limit.
    print_value_line(std::vector<double>(kComboCount, -std::numeric_limits<double>::max()), "%.12g",
                     "nan");
    EXPECT_EQ(output_buffer().size(), kComboCount * 20u);  // 19 characters and a separator each
    clear_output_buffer();
    CommandWords words = {"show_hand_order"};
    cmd_show_hand_order(words);
    EXPECT_EQ(output_buffer(), std::string(HandOrderText) + "\n");
    clear_output_buffer();
}

TEST_F(ComboOrder, ValueLineTooLongIsACommandError) {
    clear_output_buffer();
    set_current_command_word("calc_ev");
    std::vector<double> values(kComboCount, 1.0);
    try {
        print_value_line(values, "%060.1f", "nan");
        FAIL();
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "ERROR: calc_ev buffer too small\n");
    }
    EXPECT_EQ(output_buffer(), "");
}

}  // namespace
