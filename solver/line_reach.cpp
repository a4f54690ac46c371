#include "solver/line_reach.h"

#include <algorithm>

#include "cards/hand_set.h"
#include "solver/runout_access.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/traversal.h"
#include "storage/row_kernels.h"

namespace {

bool CardInRange(int32_t card) {
    return card >= -1 && card < kCardCount;
}

void RootRow(const std::vector<float>& values, PooledArray* row) {
    ReleasePooledArray(row);
    ConstructPooledArray(row, static_cast<int32_t>(values.size()), false, false);
    std::copy(values.begin(), values.end(), row->data);
}

// A parent-level row moved onto a turn record's hands (null stays null, with the new count).
void GatherToTurn(const SubgameRecord& record, PooledArray* row) {
    PooledArray next;
    next.count = static_cast<int32_t>(record.hands.size());
    GatherRow(&next, row, record.maps[0].data());
    ReleasePooledArray(row);
    MovePooledArray(row, &next);
}

void GatherToRiver(const RiverRecord& record, PooledArray* row) {
    PooledArray next;
    GatherRowToRecord(record, &next, row);
    ReleasePooledArray(row);
    MovePooledArray(row, &next);
}

}  // namespace

bool ResolveQueryTarget(SolvedTree* tree, int32_t node, int32_t turnCard, int32_t riverCard,
                        QueryTarget* out) {
    if (tree == nullptr || tree->hands == nullptr) return false;
    if (node < 0 || node >= static_cast<int32_t>(tree->nodes.size())) return false;
    if (!CardInRange(turnCard) || !CardInRange(riverCard)) return false;
    if (riverCard >= 0 && (turnCard < 0 || riverCard == turnCard)) return false;
    int32_t turn;
    int32_t river;
    MapRunoutCards(tree, turnCard, riverCard, &turn, &river);
    if ((turnCard >= 0 && turn < 0) || (riverCard >= 0 && river < 0)) return false;
    const int32_t rootStreet = tree->rootStreet();
    if (rootStreet >= 2 && turn != tree->rootTurnRecord) return false;
    if (rootStreet >= 3 && river != tree->rootRiverRecord) return false;

    TreeNode* n = &tree->nodes[node];
    const int32_t street = n->street;
    // The first node of a street is also asked about before that street's card (its chance
    // view): it needs only the cards of the street above it.
    int32_t least = street;
    if (n->parentNode != nullptr && n->parentNode->street < street)
        least = std::max(n->parentNode->street, rootStreet);
    const int32_t dealt = riverCard >= 0 ? 3 : turnCard >= 0 ? 2 : 1;
    if (dealt > std::max(street, 1) || dealt < std::min(least, 3)) return false;
    out->node = n;
    out->index = node;
    out->turn = turn;
    out->river = river;
    return true;
}

std::vector<int32_t> PathToNode(const SolvedTree* tree, const TreeNode* node) {
    std::vector<int32_t> path;
    const TreeNode* base = tree->nodes.data();
    for (const TreeNode* at = node; at->parentNode != nullptr; at = at->parentNode) {
        const std::vector<int32_t>& siblings = at->parentNode->children;
        const int32_t index = static_cast<int32_t>(at - base);
        path.push_back(static_cast<int32_t>(std::find(siblings.begin(), siblings.end(), index) -
                                            siblings.begin()));
    }
    std::reverse(path.begin(), path.end());
    return path;
}

void CalcLineReach(SolvedTree* tree, const QueryTarget& target, PooledArray reach[2]) {
    const HandSet& hs = *tree->hands;
    const std::vector<int32_t> path = PathToNode(tree, target.node);
    RootRow(tree->rootRows[0], &reach[0]);
    RootRow(tree->rootRows[1], &reach[1]);
    TreeNode* node = &tree->nodes[0];
    int32_t turn = tree->rootTurnRecord;
    int32_t river = tree->rootRiverRecord;
    size_t step = 0;
    for (;;) {
        if (node == target.node && turn == target.turn && river == target.river) return;
        if (node->street >= 2 && turn < 0 && target.turn >= 0) {
            turn = target.turn;
            for (int p = 0; p < 2; ++p) GatherToTurn(hs.records[turn], &reach[p]);
            continue;
        }
        if (node->street >= 3 && river < 0 && target.river >= 0) {
            river = target.river;
            for (int p = 0; p < 2; ++p) GatherToRiver(hs.records[turn].rivers[river], &reach[p]);
            continue;
        }
        // The guard of ResolveQueryTarget makes this unreachable; stop with what we have.
        if (node->kind != 0 || step >= path.size()) return;
        // The strategy the evaluation walks use, so reach and values form one profile.
        std::vector<PooledArray> s = EvaluationStrategy(tree, node, turn, river);
        const int32_t a = path[step++];
        MultiplyRowInPlace(&reach[node->player], &s[a]);
        ReleaseRows(s);
        node = &tree->nodes[node->children[a]];
    }
}

TreeNode* RiverSubtreeTop(TreeNode* node) {
    while (node->parentNode != nullptr && node->parentNode->street >= 3) node = node->parentNode;
    return node;
}

void OpenQuerySubtree(SolvedTree* tree, const QueryTarget& target) {
    if (target.node->street != 3 || target.river < 0) return;
    TreeNode* top = RiverSubtreeTop(target.node);
    OpenRiverKind(tree, top, target.turn, 0, WalkRule::All);
    OpenRiverKind(tree, top, target.turn, 1, WalkRule::All);
}

void CloseQuerySubtree(SolvedTree* tree, const QueryTarget& target) {
    if (target.node->street != 3 || target.river < 0) return;
    TreeNode* top = RiverSubtreeTop(target.node);
    CloseRiverKind(tree, top, target.turn, 0, WalkRule::None);
    CloseRiverKind(tree, top, target.turn, 1, WalkRule::None);
}
