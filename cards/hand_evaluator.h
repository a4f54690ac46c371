// Table-driven poker hand evaluator for three to seven cards.
// Evaluator mask: one 16-bit field per suit, bit 16 * suit + rank (bits 13-15 of a field are 0).
#pragma once

#include <cstdint>

#include "cards/cards.h"

// Hand type in bits 24-31 (0 high card .. 8 straight flush), rank nibbles R1..R5 in bits 16-19,
// 12-15, 8-11, 4-7, 0-3. A larger value is a stronger hand; equal values tie. Three- and
// four-card values keep their ranks aligned from R1 down, so they compare with board values.
using HandValue = uint32_t;

enum HandType : uint32_t {
    kHighCard = 0,
    kOnePair = 1,
    kTwoPair = 2,
    kThreeOfAKind = 3,
    kStraight = 4,
    kFlush = 5,
    kFullHouse = 6,
    kFourOfAKind = 7,
    kStraightFlush = 8,
};

constexpr uint32_t HandValueType(HandValue value) {
    return value >> 24;
}

// Builds the four rank-mask tables (static storage, so they always exist). Returns 1; later
// calls do nothing. Call once on the main thread before any other thread evaluates.
int32_t InitHandEvalTables();

// Values of an evaluator mask holding exactly 3..7 distinct cards; 0 when the number of distinct
// ranks cannot occur for that card count. Pure and thread-safe once the tables are built.
HandValue EvalHand3(uint64_t mask);
HandValue EvalHand4(uint64_t mask);
HandValue EvalHand5(uint64_t mask);
HandValue EvalHand6(uint64_t mask);
HandValue EvalHand7(uint64_t mask);

// The evaluator mask of a card set.
constexpr uint64_t EvaluatorMask(CardMask cards) {
    return (cards & kSuitFieldMask) | ((cards >> 13) & kSuitFieldMask) << 16 |
           ((cards >> 26) & kSuitFieldMask) << 32 | ((cards >> 39) & kSuitFieldMask) << 48;
}

// Value of n distinct card numbers (n = 3..7); 0 for any other n.
HandValue RankHandFromCards(const uint8_t* cards, int32_t n);

// Value of a card set of 3..7 cards; 0 for any other count.
HandValue EvalCardMask(CardMask cards);
