#include "solver/tree_storage.h"

#include "solver/solved_tree.h"
#include "storage/storage_io_counters.h"

void MakeNodeStorages(SolvedTree* tree, TreeNode* node, int32_t rootStreet) {
    (void)tree;
    (void)node;
    (void)rootStreet;
}

void ClearStorageTraffic() { ResetStorageTraffic(); }
