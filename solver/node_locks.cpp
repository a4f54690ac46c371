#include "solver/node_locks.h"

#include "solver/runout_access.h"
#include "solver/solved_tree.h"
#include "storage/lock_record.h"
#include "storage/storage_interface.h"

void libsubgame_node_flags_text(std::string* out, int32_t node, int32_t turnCard,
                                int32_t riverCard) {
    out->clear();
    TreeNode* n = libsubgame_get_node(node);
    if (n == nullptr || n->regrets == nullptr) return;
    int32_t turn;
    int32_t river;
    MapRunoutCards(g_solvedTree, turnCard, riverCard, &turn, &river);
    if ((n->street >= 2 && turn < 0) || (n->street >= 3 && river < 0)) return;
    const LockRecord* record = n->regrets->flagsPtr(turn, river);
    if (record == nullptr) return;
    if ((record->flags & kLockNodeFlag) != 0) out->append("LOCKED");
    if ((record->flags & kLockCombosFlag) != 0) {
        if (!out->empty()) out->push_back(' ');
        out->append("COMBO_LOCKED");
    }
}
