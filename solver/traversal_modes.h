// What the current walk of the solved tree does (its mode) and which of a traversal's three
// passes runs; the tree holds both for the walk under way.
#pragma once

#include <cstdint>

enum TraversalMode : int32_t {
    kModeEvaluate = 0,  // values and best responses under the evaluation strategies
    kModeUpdate = 1,    // one CFR update of the traverser's regrets and strategy sums
    kModeCollect = 2,   // a value query's walk into its TargetRecord
};

enum TraversalPass : int32_t {
    kPassRecordJobs = 0,  // records one subgame job per dealt card class of each chance node
    kPassRunJobs = 1,     // runs the recorded jobs on the OpenMP team
    kPassTakeMerged = 2,  // each chance node takes its jobs' merged values
};
