#include "solver/ensure_node_strategy.h"

#include "cards/hand_set.h"
#include "solver/forgotten_streets.h"
#include "solver/solved_tree.h"
#include "storage/node_data.h"

double EnsureNodeStrategy(SolvedTree* tree, int32_t node, int32_t turn, int32_t river,
                          uint8_t force) {
    if (!tree || !tree->hands || tree->forgottenStreet < 0) return 0.0;
    if (node < 0 || node >= static_cast<int32_t>(tree->nodes.size())) return 0.0;
    TreeNode* n = &tree->nodes[node];
    // A leaf, or a river node asked for before its card (the chance node above it), needs only
    // the strategies on the way to it: those of its parent's subtree.
    while (n->parentNode && (n->kind != 0 || (n->street >= 3 && river < 0))) n = n->parentNode;
    const int32_t forgotten = tree->forgottenStreet;
    if (n->street < forgotten) return 0.0;
    const HandSet& hs = *tree->hands;
    if (turn < 0 || turn >= static_cast<int32_t>(hs.records.size())) return 0.0;
    if (n->street >= 3 &&
        (river < 0 || river >= static_cast<int32_t>(hs.records[turn].rivers.size())))
        return 0.0;

    TreeNode* root = n;
    while (root->parentNode && root->parentNode->street >= forgotten) root = root->parentNode;
    const int32_t record = root->street == 3 ? turn : 0;
    if (root->kind != 0 || record >= root->nodeDataCount) return 0.0;

    if (!root->resident || force) {
        // Every runout of the remade storages starts empty again.
        for (int32_t r = 0; r < root->nodeDataCount; ++r) root->nodeData[r].doneBits = 0;
    }
    EnsureSubtreeStorage(tree, root, force != 0);
    return ResolveForgottenSubtree(tree, root, turn, root->street == 3 ? river : -1, force != 0);
}
