// The global solver mutex: the library's outermost lock, held for each whole one-player
// traversal and by queries and edits of the solved tree. Recursive, so an entry point that
// holds it across several traversals (calc_results) can call them.
#pragma once

#include <mutex>

std::recursive_mutex& SolverMutex();
