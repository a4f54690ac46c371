#include "interpreter/combo_order.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "utilities/output.h"

namespace {

constexpr std::array<char, kHandOrderTextLength + 1> make_hand_order_text() {
    std::array<char, kHandOrderTextLength + 1> text{};
    constexpr char ranks[] = "23456789TJQKA";
    constexpr char suits[] = "cdhs";
    int at = 0;
    for (int hi = 1; hi < kCardCount; ++hi) {
        for (int lo = 0; lo < hi; ++lo) {
            if (at > 0) text[at++] = ' ';
            text[at++] = ranks[hi / 4];
            text[at++] = suits[hi % 4];
            text[at++] = ranks[lo / 4];
            text[at++] = suits[lo % 4];
        }
    }
    text[at] = '\0';
    return text;
}

constexpr std::array<char, kHandOrderTextLength + 1> HandOrderChars = make_hand_order_text();

int hand_class(CardMask hand) {
    const int a = LowestCard(hand), b = HighestCard(hand);
    const int r1 = CardRank(a), r2 = CardRank(b);
    const int high = r1 > r2 ? r1 : r2, low = r1 > r2 ? r2 : r1;
    if (CardSuit(a) == CardSuit(b)) return 13 * low + high;
    return 13 * high + low;
}

}  // namespace

const char* const HandOrderText = HandOrderChars.data();

std::array<CardMask, kComboCount> HandOrderMasks{};
std::array<uint16_t, kComboCount> HandOrderToCombo{};
std::array<uint16_t, kComboCount> ComboToHandOrder{};
std::array<std::vector<uint16_t>, kHandClassCount> HandClassCombos;

void build_combo_tables() {
    for (auto& list : HandClassCombos) list.clear();
    for (int k = 0; k < kComboCount; ++k) {
        char word[5] = {};
        for (int i = 0; i < 4; ++i) {
            const char c = HandOrderText[k * 5 + i];
            word[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
        CardMask mask = 0;
        ParseCards(&mask, word);
        const int combo = ComboIndex(mask);
        HandOrderMasks[k] = mask;
        HandOrderToCombo[k] = static_cast<uint16_t>(combo);
        ComboToHandOrder[combo] = static_cast<uint16_t>(k);
        HandClassCombos[hand_class(mask)].push_back(static_cast<uint16_t>(combo));
    }
}

void remap_combo_values(std::vector<double>& out, const std::array<uint16_t, kComboCount>& map,
                        const std::vector<double>& in) {
    if (in.size() != kComboCount) fail_fatal("remap_combo_values: list is not 1326 values");
    std::vector<double> result(kComboCount);
    for (int i = 0; i < kComboCount; ++i) result[i] = in[map[i]];
    out = std::move(result);
}

void print_value_line(const std::vector<double>& values, const char* value_format,
                      const char* nan_text) {
    std::string line;
    char number[512];
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) line.push_back(' ');
        if (std::isnan(values[i])) {
            line += nan_text;
        } else {
            std::snprintf(number, sizeof number, value_format, values[i]);
            line += number;
        }
    }
    line.push_back('\n');
    if (line.size() >= 65536) throw_command_error("buffer too small");
    out_printf("%s", line.c_str());
}

std::string combo_name(int k) {
    return std::string(HandOrderText + k * 5, 4);
}

void cmd_show_hand_order(CommandWords& words) {
    out_printf("%s\n", HandOrderText);
}
