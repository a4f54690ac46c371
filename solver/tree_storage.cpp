#include "solver/tree_storage.h"

#include "cards/flat_index_lists.h"
#include "solver/solved_tree.h"
#include "storage/node_storage_factory.h"
#include "storage/storage_io_counters.h"

void MakeNodeStorages(SolvedTree* tree, TreeNode* node, int32_t rootStreet) {
    MakeNodeStorages(tree, node, rootStreet, tree->params.streetBytes);
}

void MakeNodeStorages(SolvedTree* tree, TreeNode* node, int32_t rootStreet, uint64_t* streetBytes) {
    const size_t actions = node->children.size();
    const FlatIndexLists* layout =
        actions < tree->indexLists.size() ? tree->indexLists[actions].get() : nullptr;
    NodeStorageOptions options;
    options.withSums = tree->averaging != 0;
    options.rootStreet = rootStreet;
    options.streamKinds[0] = static_cast<uint32_t>(tree->streamKinds[0]);
    options.streamKinds[1] = static_cast<uint32_t>(tree->streamKinds[1]);
    options.formatAtLeast5 = tree->formatVersion >= 5;
    options.riverStrategyEnabled = tree->riverStrategy != 0;
    CreateNodeStorages(node, tree->hands.get(), layout, streetBytes, options);
}

void ClearStorageTraffic() {
    ResetStorageTraffic();
}

void libsubgame_storage_traffic(uint64_t* bytesRead, uint64_t* bytesWritten) {
    *bytesRead = static_cast<uint64_t>(g_storage_io.bytesRead.load());
    *bytesWritten = static_cast<uint64_t>(g_storage_io.bytesWritten.load());
}
