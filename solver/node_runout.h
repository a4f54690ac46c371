// One decision node at one runout, as the queries and edits of the solved tree address it, and
// the hand list ("level") of a runout reference.
#pragma once

#include <cstdint>
#include <vector>

#include "cards/cards.h"

struct HandSet;
struct SolvedTree;
struct TreeNode;

struct NodeRunout {
    TreeNode* node = nullptr;
    int32_t index = -1;  // node index
    int32_t turn = -1;   // runout reference, canonical suits (MapRunoutCards)
    int32_t river = -1;
    int32_t turnCard = -1;  // the caller's real cards
    int32_t riverCard = -1;
    CardMask turnMask = 0;  // their bits, 0 for a card not dealt
    CardMask riverMask = 0;
};

// Fills out for a decision node (kind 0 with children) whose runout fits its street exactly:
// no card on the flop, a turn card with a turn record on the turn, both cards with records on the
// river. False, with out unusable, without a tree, for an index out of range, another kind of
// node, or cards that do not fit.
bool ResolveNodeRunout(SolvedTree* tree, int32_t node, int32_t turnCard, int32_t riverCard,
                       NodeRunout* out);

// The level of a runout reference: its hands, and its ComboIndex -> position table (0xFFFF for a
// combination not on the list).
const std::vector<CardMask>& LevelHands(const HandSet& hands, int32_t turn, int32_t river);
const uint16_t* LevelIndexTable(const HandSet& hands, int32_t turn, int32_t river);

// Strategy sums take part at the tree's iteration (StrategySumsActive).
bool AveragingInEffect(const SolvedTree* tree);
