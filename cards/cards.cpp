#include "cards/cards.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::array<CardPair, kComboCount> BuildComboCards() {
    std::array<CardPair, kComboCount> table{};
    for (int hi = 1; hi < kCardCount; ++hi)
        for (int lo = 0; lo < hi; ++lo) table[ComboIndex(lo, hi)] = MakeCardPair(lo, hi);
    return table;
}

constexpr std::array<CardPair, kComboCount> kComboCards = BuildComboCards();

int IndexIn(const char* chars, char c) {
    if (c == '\0') return -1;
    const char* at = std::strchr(chars, c);
    return at ? static_cast<int>(at - chars) : -1;
}

[[noreturn]] void InvalidCard() {
    throw std::runtime_error("ERROR: invalid card\n");
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

CardPair ComboCards(int combo) {
    return kComboCards[combo];
}

std::string CardText(int card) {
    return std::string{kRankChars[CardRank(card)], kSuitChars[CardSuit(card)]};
}

std::string MaskText(CardMask mask) {
    std::string text;
    for (; mask; mask &= mask - 1) text += CardText(LowestCard(mask));
    return text;
}

void ParseCards(CardMask* result, const char* text) {
    // Upper-casing works on the fly: the caller's text is never written and any length is read.
    *result = 0;
    CardMask set = 0;
    size_t p = 0;
    if (text[0] == '\0') return;
    for (;;) {
        const int rank = IndexIn(kRankChars, Upper(text[p]));
        if (rank < 0) InvalidCard();
        const int suit = IndexIn(kSuitCharsRead, Upper(text[p + 1]));
        if (suit < 0) InvalidCard();
        const int card = MakeCard(rank, suit);
        if (set & CardBit(card)) InvalidCard();
        set |= CardBit(card);
        *result = set;
        p += 2;
        while (text[p] == ' ') ++p;
        if (text[p] == '\0') return;
    }
}
