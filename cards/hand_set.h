// Per-board hand lists of one tree: the live hands on the flop, one SubgameRecord per dealt turn
// card and, below it, one RiverRecord per dealt river card. Lists are in showdown order with
// position tables to and from the parent list, and the maps that spread a record standing for
// several suits over the real cards it represents. Record order, hand order and the maps fix the
// storage row layout and the saved-tree format. Built on the main thread, then read-only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "cards/cards.h"
#include "cards/flat_index_lists.h"

inline constexpr uint16_t kNoPosition = 0xFFFF;

// One run of at most 16 equal strengths in a river list.
struct SmallGroup {
    uint32_t group;     // index of the run in runLengths
    uint16_t first;     // position of its first hand
    uint16_t count;     // 1..16
    uint64_t laneMask;  // byte i is 0xFF for i < lanes, lanes = count <= 8 ? count : count - 8
};

// One run of more than 16 equal strengths in a river list.
struct LargeGroup {
    uint32_t group;
    int32_t first;
    int32_t count;
};

struct RiverRecord {
    CardMask board = 0;               // the turn record's board plus the river card (five cards)
    int32_t card = -1;                // the river card (the representative when weight > 1)
    int32_t weight = 1;               // real cards this record stands for, 1..4
    std::vector<CardMask> hands;      // live hands on this board, showdown order
    std::vector<CardPair> pairs;      // the same hands as card pairs
    uint16_t index[kComboCount];      // ComboIndex -> position in hands, kNoPosition
    std::vector<int32_t> strengths;   // HandValue with the five board cards
    std::vector<int16_t> runLengths;  // maximal runs of equal strength, in list order
    // maps[0][i]: position of hand i in the turn record's hands; maps[k][i] (k < weight): the
    // position of hand i with suits s and s + k exchanged, s = suit of card. Read as i16.
    std::vector<std::vector<uint16_t>> maps;
    std::vector<SmallGroup> smallGroups;
    std::vector<LargeGroup> largeGroups;

    // Skeleton: index all kNoPosition, weight empty maps, no hands.
    RiverRecord(CardMask board, int32_t card, int32_t weight);
};

struct HandSet;

struct SubgameRecord {
    CardMask board = 0;              // the HandSet's board plus the dealt card
    int32_t card = -1;               // the turn card (the representative when weight > 1)
    int32_t weight = 1;              // real cards this record stands for, 1..4
    std::vector<CardMask> hands;     // live hands on this board, showdown order
    std::vector<CardPair> pairs;     // the same hands as card pairs
    uint16_t index[kComboCount];     // ComboIndex -> position in hands, kNoPosition
    std::vector<int32_t> strengths;  // HandValue with the four board cards
    // As RiverRecord::maps, positions in the HandSet's hands.
    std::vector<std::vector<uint16_t>> maps;
    std::vector<RiverRecord> rivers;       // one per dealt river card
    std::vector<int32_t> riverHandCounts;  // per river record, its hand count
    uint16_t cardToRiver[kCardCount];      // card -> river record index, kNoPosition

    // Skeleton for the dealt card: board, weight and the river records (all of them from the
    // dealt-card list when river < 0, else the one fixed river card). No hand lists yet.
    SubgameRecord(const HandSet* owner, int32_t card, int32_t weight, int32_t river,
                  uint8_t isomorphism);
};

struct HandSet {
    CardMask board = 0;                  // the flop cards
    std::vector<CardMask> hands;         // live hands on the flop, ComboIndex order
    std::vector<CardPair> pairs;         // the same hands as card pairs
    uint16_t index[kComboCount];         // ComboIndex -> position in hands, kNoPosition
    std::vector<SubgameRecord> records;  // one per dealt turn card, or the one fixed turn card
    std::vector<int32_t> recordHandCounts;
    std::vector<std::vector<int32_t>> riverHandCounts;  // per record, its riverHandCounts
    uint16_t cardToRecord[kCardCount];                  // card -> record index, kNoPosition

    // Record skeletons for *flop (in canonical suits when isomorphism is on) and the fixed turn
    // and river cards (-1 when not fixed). Hand lists are filled by SetHoles.
    HandSet(const CardMask* flop, int32_t turn, int32_t river, uint8_t isomorphism);

    // Bytes held by every list and table of the set (the memory report's figure).
    size_t bytesHeld() const;
};

// Fills every list and table from the two ranges (1326 weights in ComboIndex order; a hand is
// live when either weight is > 0). Runs the record loop on 4 OpenMP threads. Returns false,
// after finishing the loop, when some suit-exchanged hand was missing from its parent list
// (each miss is printed as an "isomorph error: " line); such a set must not be used.
bool SetHoles(HandSet* set, const double* range0, const double* range1);

// One record and its river records from the parent (HandSet) list and index. False on an
// isomorphism error.
bool SetupSubgameRecord(SubgameRecord* record, const std::vector<CardMask>* parentHands,
                        const uint16_t* parentIndex);

// The showdown-ordered hand list, strengths and maps of one record (maps sized to weight) from
// its parent's list. False when a suit-exchanged hand is not in the parent list; that map entry
// is then kNoPosition and an "isomorph error: " line has been printed.
bool BuildIsomorphismMaps(std::vector<CardMask>* hands, std::vector<int32_t>* strengths,
                          std::vector<std::vector<uint16_t>>* maps, CardMask board, int32_t card,
                          int32_t weight, const std::vector<CardMask>* parentHands,
                          const uint16_t* parentIndex);

// HandValue of board plus each hand; -1 for an empty (0) hand.
void ComputeShowdownStrengths(std::vector<int32_t>* out, const std::vector<CardMask>* hands,
                              CardMask board);

// Tie-break key of river lists: rank class of the hand and which of its suits meet board suits.
// -1 for an empty hand.
int32_t HandClassKey(CardMask board, CardMask hand);

// Run lengths and groups of a river record whose strengths are set; fail_fatal if the runs do
// not cover the list.
void GroupEqualStrengths(RiverRecord* record);

// rows[0], rows[1]: each hand's weight in range0, range1 (weights not > 0 give 0); rows[2],
// rows[3]: those weights divided by the player's total against compatible opponent hands.
// Returns false, leaving rows 2 and 3 empty, when a total is 0 or not finite.
bool LoadRecordRanges(std::array<std::vector<float>, 4>* rows, const double* range0,
                      const double* range1, const std::vector<CardMask>* hands);
