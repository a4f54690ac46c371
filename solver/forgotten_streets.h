// Forgetting the storages of the late streets of a solved tree, and re-solving one runout's
// subtree of a forgotten street when a query or edit first needs it. Main thread only, never
// while the solver thread runs.
#pragma once

#include <cstdint>
#include <vector>

#include "cards/cards.h"
#include "storage/pooled_array.h"

struct SolvedTree;
struct TreeNode;

// Results of the entries that forget, rebuild or re-solve whole streets.
enum StreetResult : int32_t {
    kStreetOk = 0,
    kStreetNoTree = 1,
    kStreetSolverRunning = 2,
    kStreetBadArgument = 3,     // a street other than 2 (turns) or 3 (rivers)
    kStreetNotBelowRoot = 4,    // the street is the root's street or above it
    kStreetTurnsForgotten = 5,  // rivers asked while the turns are forgotten
    kStreetIncomplete = 6,      // "INCOMPLETE_TREE" set, or storages missing above the street
};

// Deletes the storages of street (2 turns and rivers, 3 rivers) and every later one, keeping
// per root of that street both players' reach (sum 200) for the re-solves. Refuses, changing
// nothing, with the StreetResult above.
int32_t libsubgame_forget_street(int32_t street);
// Fresh, empty storages for every node of the forgotten streets that has none; clears
// "INCOMPLETE_TREE". The forgotten street and done bits stay, so runouts not yet re-solved
// still re-solve on their first query. kStreetOk (also with nothing forgotten), kStreetNoTree
// or kStreetSolverRunning.
int32_t libsubgame_rebuild_forgotten_streets();
// Remakes every storage of the forgotten subtree holding the node and re-solves the runout
// (real cards, -1 for none) from its stored reach; the last check value. 0.0, changing
// nothing, without a tree, while the solver runs, for arguments ResolveNodeRunout refuses, and
// for a node above the forgotten street or with nothing forgotten.
double libsubgame_solve_partial(int32_t node, int32_t turnCard, int32_t riverCard);
// The forgotten street (2 or 3), -1 when none or without a tree.
int32_t libsubgame_get_forgotten_street();

// Scales a stored root reach row to sum 200 when its float sum exceeds FLT_EPSILON: the scale
// of every re-solve's reach, whether the forgetting or a saved tree stored the row.
void ScaleRootReach(PooledArray* row);

// Destroys both storages of every node of the street; resident := 0.
void DeleteStreetStorages(SolvedTree* tree, int32_t street);
// The forgetting for a street the caller has checked.
void ForgetStreetStorage(SolvedTree* tree, int32_t street);
// Drops everything forgotten: forgottenStreet := -1 and every record's done byte and done bits
// cleared, so no later query re-solves from reach of an earlier solve.
void DropForgottenState(SolvedTree* tree);

// Makes the storages of node and every node below it exist and be reset when not resident, or
// always with force. Nothing when nothing is forgotten. Storage sizes go to scratch counters:
// the tree's per-street totals keep describing the full tree.
void EnsureSubtreeStorage(SolvedTree* tree, TreeNode* node, bool force);
// The re-solve loop of the forgotten subtree rooted at root (the first node of the forgotten
// street) for runout (turn, river), record indices: from the stored reach, on this thread, under
// the solver mutex, until the check value reaches the recalc accuracy of root's street or 1000
// iterations. 0.0 without iterating when the runout is done (unless force) or its reach pairs
// weigh nothing (the runout is then marked done).
double ResolveForgottenSubtree(SolvedTree* tree, TreeNode* root, int32_t turn, int32_t river,
                               bool force);
// The mode-0 check of root's subtree for the runout with reach rows reach[0], reach[1] over
// the runout level's hands: the mean of both players' SubtreeBestResponseValue. Runs the
// tree's current evaluation rules; the caller holds the solver mutex and has the river rows
// open where the tree packs them.
double SubtreeCheck(SolvedTree* tree, TreeNode* root, int32_t turn, int32_t river,
                    PooledArray reach[2], const std::vector<CardMask>& hands);
// sum_i bestResponse[i] x ownReach[i] / W, W the weight of all non-conflicting pairs
// ownReach[i] x opponentReach[j]; 0 when W <= 0. Null rows read as zeros.
double SubtreeBestResponseValue(const PooledArray& bestResponse, const PooledArray& ownReach,
                                const PooledArray& opponentReach,
                                const std::vector<CardMask>& hands);

// Number of re-solves run since the process started (tests).
uint64_t ResolveCount();
// Iterations those re-solves ran, all together (tests and bench: the difference across one
// query is its re-solve's iteration count).
uint64_t ResolveIterationCount();
// Values the storages of one street hold (regrets and strategy sums, every runout; tests).
uint64_t StreetStorageValues(const SolvedTree* tree, int32_t street);
