#include "solver/node_runout.h"

#include "cards/hand_set.h"
#include "solver/iteration_thresholds.h"
#include "solver/runout_access.h"
#include "solver/solved_tree.h"

bool ResolveNodeRunout(SolvedTree* tree, int32_t node, int32_t turnCard, int32_t riverCard,
                       NodeRunout* out) {
    if (tree == nullptr || tree->hands == nullptr) return false;
    if (node < 0 || node >= static_cast<int32_t>(tree->nodes.size())) return false;
    TreeNode* n = &tree->nodes[node];
    if (n->kind != 0 || n->children.empty()) return false;
    const bool cardOk =
        turnCard >= -1 && turnCard < kCardCount && riverCard >= -1 && riverCard < kCardCount;
    if (!cardOk) return false;
    // Exactly the cards of the node's street: an extra card would rename suits the node's level
    // does not know, a missing one would index records with -1.
    const bool wantTurn = n->street >= 2;
    const bool wantRiver = n->street >= 3;
    if ((turnCard >= 0) != wantTurn || (riverCard >= 0) != wantRiver) return false;
    MapRunoutCards(tree, turnCard, riverCard, &out->turn, &out->river);
    if ((wantTurn && out->turn < 0) || (wantRiver && out->river < 0)) return false;
    out->node = n;
    out->index = node;
    out->turnCard = turnCard;
    out->riverCard = riverCard;
    out->turnMask = turnCard >= 0 ? CardBit(turnCard) : 0;
    out->riverMask = riverCard >= 0 ? CardBit(riverCard) : 0;
    return true;
}

const std::vector<CardMask>& LevelHands(const HandSet& hands, int32_t turn, int32_t river) {
    if (river >= 0) return hands.records[turn].rivers[river].hands;
    if (turn >= 0) return hands.records[turn].hands;
    return hands.hands;
}

const uint16_t* LevelIndexTable(const HandSet& hands, int32_t turn, int32_t river) {
    if (river >= 0) return hands.records[turn].rivers[river].index;
    if (turn >= 0) return hands.records[turn].index;
    return hands.index;
}

bool AveragingInEffect(const SolvedTree* tree) {
    return StrategySumsActive(tree->averaging, tree->iteration);
}
