// Cards, card sets and two-card hands, in the encodings every layer shares.
// Card: 0..51 = 13 * suit + rank; rank 0..12 for "23456789TJQKA", suit 0..3 for clubs,
// diamonds, hearts, spades.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

// A set of cards, bit c for card c. Suit s occupies the 13-bit field at bit 13 * s; bits 52..63
// are always 0.
using CardMask = uint64_t;

// A two-card hand as lo | hi << 8, lo < hi card numbers. Hand lists keep one beside each mask.
using CardPair = uint16_t;

inline constexpr int kCardCount = 52;
inline constexpr int kComboCount = 1326;
inline constexpr CardMask kSuitFieldMask = 0x1FFF;
inline constexpr CardMask kFullDeckMask = (CardMask{1} << 52) - 1;
inline constexpr char kRankChars[] = "23456789TJQKA";
inline constexpr char kSuitCharsRead[] = "CDHS";
inline constexpr char kSuitChars[] = "cdhs";

constexpr int CardRank(int card) {
    return card % 13;
}
constexpr int CardSuit(int card) {
    return card / 13;
}
constexpr int MakeCard(int rank, int suit) {
    return 13 * suit + rank;
}
constexpr CardMask CardBit(int card) {
    return CardMask{1} << card;
}

constexpr int CardCount(CardMask mask) {
    return std::popcount(mask);
}
// Lowest / highest card of a non-empty mask.
constexpr int LowestCard(CardMask mask) {
    return std::countr_zero(mask);
}
constexpr int HighestCard(CardMask mask) {
    return 63 - std::countl_zero(mask);
}
// The 13-bit rank set of one suit.
constexpr uint32_t SuitField(CardMask mask, int suit) {
    return static_cast<uint32_t>((mask >> (13 * suit)) & kSuitFieldMask);
}

// Index 0..1325 of the hand {lo, hi}, lo < hi; every per-combination array uses this order.
constexpr int ComboIndex(int lo, int hi) {
    return hi * (hi - 1) / 2 + lo;
}
// Index of a two-card mask, from its lowest and highest card.
constexpr int ComboIndex(CardMask hand) {
    return ComboIndex(LowestCard(hand), HighestCard(hand));
}

constexpr CardPair MakeCardPair(int lo, int hi) {
    return static_cast<CardPair>(lo | hi << 8);
}
constexpr CardPair MakeCardPair(CardMask hand) {
    return MakeCardPair(LowestCard(hand), HighestCard(hand));
}
constexpr int CardPairLo(CardPair pair) {
    return pair & 0xFF;
}
constexpr int CardPairHi(CardPair pair) {
    return pair >> 8;
}
constexpr CardMask CardPairMask(CardPair pair) {
    return CardBit(CardPairLo(pair)) | CardBit(CardPairHi(pair));
}

// The cards of combination index 0..1325 (inverse of ComboIndex), as a CardPair.
CardPair ComboCards(int combo);
inline CardMask ComboMask(int combo) {
    return CardPairMask(ComboCards(combo));
}

// Moves every card of suit s to suit perm[s], keeping its rank. perm must be a permutation of
// 0..3 for the result to keep the card count.
constexpr CardMask PermuteSuits(CardMask mask, const int perm[4]) {
    CardMask out = 0;
    for (int s = 0; s < 4; ++s) out |= ((mask >> (13 * s)) & kSuitFieldMask) << (13 * perm[s]);
    return out;
}

constexpr CardMask PermuteSuits(CardMask mask, const uint8_t perm[4]) {
    const int wide[4] = {perm[0], perm[1], perm[2], perm[3]};
    return PermuteSuits(mask, wide);
}

// Two characters, rank then lower-case suit ("Ah").
std::string CardText(int card);
// The cards of a mask in ascending card number, no separators ("2c5dAh").
std::string MaskText(CardMask mask);

// Reads cards written rank then suit, either letter case, optionally separated by spaces, and
// stores their set in *result (empty text gives 0). Throws std::runtime_error with the text
// "ERROR: invalid card\n" on any bad character, a repeated card, or a leading blank; *result
// then holds the cards read before the bad one.
void ParseCards(CardMask* result, const char* text);
