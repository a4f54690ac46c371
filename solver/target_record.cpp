#include "solver/target_record.h"

#include "solver/combo_equity.h"
#include "solver/solved_tree.h"

void CollectTargetNode(const TraversalContext* ctx) {
    TargetRecord* target = ctx->tree->target;
    if (target == nullptr || target->split != 0) return;
    if (ctx->node != target->node || ctx->turn != target->turn || ctx->river != target->river)
        return;
    // Pass 2 runs after pass 1 and overwrites: the last visit holds the merged values.
    CollectTargetRunouts(*ctx->tree->hands, &target->valueRow, &target->weightRow, ctx->turn,
                         ctx->river, &ctx->value, &ctx->opponentReach, &ctx->ownReach);
}
