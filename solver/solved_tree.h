// The one game tree of the solver library: its node records, the flat line records it is built
// from, and the entry points that build, inspect and release it. Main thread only, and never
// while the solver thread runs (the entry points that change the tree refuse then).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cards/cards.h"
#include "solver/traversal_modes.h"

struct HandSet;
struct FlatIndexLists;
struct NodeData;
struct TargetRecord;
class StorageInterface;

// Input record, one per node in pre-order (a parent before its children, children in action
// order). Filled by the interpreter; field order and widths are shared with it.
struct TreeLine {
    int32_t kind;    // 0 decision, 1 showdown leaf, 2 fold leaf
    int32_t parent;  // index of the parent line, -1 for the root
    int32_t player;  // decision: player to act (0 OOP, 1 IP); leaves: -1
    int32_t street;  // decision: 1 flop, 2 turn, 3 river; leaves: -1
    double amount;   // leaves: the stake (line amount + half the pot); decisions: 0.0
};
static_assert(sizeof(TreeLine) == 24, "TreeLine is shared with the interpreter");

inline constexpr int kTurnMutexCount = 49;

// Deepest node a tree may hold, in actions below the root: the tree walks recurse once per
// level, on solver and worker threads with ordinary stacks.
inline constexpr int32_t kMaxTreeDepth = 1000;

// One node; held by value in the tree's vector at its line's index.
struct TreeNode {
    int32_t kind = 0;
    int32_t parent = -1;
    // Decisions: the player to act. Leaves: the parent's player (who acted last, so a fold
    // leaf's folder).
    int32_t player = 0;
    // Decisions: as the line. Fold leaves: the parent's street. Showdown leaves: 3.
    int32_t street = 0;
    double amount = 0.0;
    std::vector<int32_t> children;  // child node indices in action order
    TreeNode* parentNode = nullptr;
    StorageInterface* regrets = nullptr;       // decision nodes once storage is made
    StorageInterface* strategySums = nullptr;  // null without averaging
    float evBoost = 0.0f;
    uint8_t resident = 0;  // both storages reset and ready for solving
    uint8_t owned = 0;     // the node owns its storages, mutexes and records
    // Per traversing player, microseconds of this node's last subgame job, -1 before the first;
    // written by several workers (relaxed).
    std::atomic<int32_t> jobCost[2] = {-1, -1};
    // First turn nodes: 49 mutexes by turn record index, guarding the river storages below.
    std::unique_ptr<std::mutex[]> turnMutexes;
    // First turn decision nodes: 1 record; first river decision nodes: 49.
    std::unique_ptr<NodeData[]> nodeData;
    int32_t nodeDataCount = 0;  // records behind nodeData

    TreeNode() = default;
    TreeNode(TreeNode&& other) noexcept;  // only for the vector's sake; nodes never move once built
    TreeNode& operator=(TreeNode&&) = delete;
    ~TreeNode();
    // Deletes owned storages and NodeData rows.
    void releaseOwned();
};

// The tree parameter block, copied out by libsubgame_copy_tree_params: ten 64-bit words.
struct TreeParams {
    uint64_t streetBytes[4];     // stored values per street 0-3 (the regret storages' size(-1))
    uint64_t streetEstimate[4];  // streetBytes x 6 with averaging, x 2 without
    double averageActions;       // mean child count over nodes with children
    int32_t maxActions;          // largest child count
};
static_assert(sizeof(TreeParams) == 80, "the parameter block is ten u64 words");

inline constexpr uint32_t kTreeIncomplete = 1u;
inline constexpr uint32_t kTreeIsomorphism = 2u;
inline constexpr uint32_t kTreeNew = 4u;

struct SolvedTree {
    std::vector<TreeNode> nodes;  // node 0 is the root
    CardMask board = 0;           // the flop cards, real suits
    CardMask deadCards = 0;       // flop, fixed turn and fixed river, real suits
    std::unique_ptr<HandSet> hands;
    int32_t rootTurnRecord = -1;
    int32_t rootRiverRecord = -1;
    // Root rows: [0], [1] each player's reach; [2], [3] the weights of each player's root value.
    std::array<std::vector<float>, 4> rootRows;
    std::vector<double> ranges[2];  // the input ranges, ComboIndex order, unchanged
    std::vector<std::unique_ptr<FlatIndexLists>> indexLists;  // [k]: nodes with k actions
    double maxWeight[2] = {1.0, 1.0};  // largest weight of each (suit-permuted) range
    int32_t traverser = 0;
    TraversalMode mode = kModeEvaluate;
    TraversalPass pass = kPassRecordJobs;
    // simd_level as read at the start of the current top-level walk (one-player traversal or
    // re-solve): every river root of that walk, on any thread, follows this one value.
    int32_t simdLevel = 1;
    int32_t averaging = 0;  // 0 none, 1 delayed weighted averaging, other: weight 1
    TreeParams params = {};
    double maxAmount = 0.0;
    double payoffScale = 1.0;
    int32_t formatVersion = 7;
    int32_t streamKinds[2] = {0, 0};  // river regrets, river strategy sums
    int32_t compressionLevel = 0;     // the level whose kinds the storages were made with
    uint8_t allResident = 0;
    uint8_t riverAveraging = 1;
    // river_strategy_enabled as it was when the storages were made: river strategy-sum
    // storages exist exactly when this is 1, so every reader asks this copy, never the switch.
    uint8_t riverStrategy = 1;
    // The record a value query collects into during its mode-2 walk; null otherwise. Written
    // under the solver mutex by the query that owns the record.
    TargetRecord* target = nullptr;
    uint32_t flags = kTreeNew;
    int32_t iteration = 0;
    int32_t forgottenStreet = -1;
    // 1 while a forgotten subtree is re-solved: the chance nodes then keep their records' reach
    // and value rows as the full solve left them.
    uint8_t resolving = 0;
    int32_t resultsIteration = -1;
    double bestResponse[2][2] = {};
    double exploitability = 0.0;
    double meanValue = 0.0;

    SolvedTree();
    ~SolvedTree();
    SolvedTree(const SolvedTree&) = delete;
    SolvedTree& operator=(const SolvedTree&) = delete;

    int32_t rootStreet() const { return nodes.empty() ? 1 : nodes[0].street; }
};

// The global tree; null when none exists. Main thread writes it.
extern SolvedTree* g_solvedTree;

// Results of libsubgame_build_tree.
enum BuildTreeResult : int32_t {
    kBuildOk = 0,
    kBuildSolverRunning = 1,      // the solver thread runs: nothing changed
    kBuildInvalidLines = 2,       // the lines are not a tree in pre-order
    kBuildInvalidCards = 3,       // board cards missing, repeated or out of range for the root
    kBuildNoCompatibleHands = 4,  // no pair of live hands without a shared card
    kBuildIsomorphismError = 5,   // ranges not symmetric in the collapsed suits
    kBuildTooDeep = 6,            // a node more than kMaxTreeDepth actions below the root
};

// Replaces the global tree by one built from the lines, the board (flop cards, turn and river
// card numbers or -1) and the two ranges (1326 weights in ComboIndex order). Every check runs
// before the old tree is touched: on any result but kBuildOk the old tree stays as it was.
// The new tree has no storages; libsubgame_reset_progress makes them.
int32_t libsubgame_build_tree(int32_t averaging, const TreeLine* lines, int32_t count,
                              int32_t flop1, int32_t flop2, int32_t flop3, int32_t turn,
                              int32_t river, const double* range0, const double* range1,
                              uint8_t isomorphism);

// Solver defaults for kinds {river regret kind, river strategy-sum kind}, then every node's
// storages made anew at iteration 0, then the iteration log emptied. False, changing nothing,
// without a tree or while the solver runs.
bool libsubgame_reset_progress(const int32_t kinds[2]);

// The set flags among "INCOMPLETE_TREE", "ISOMORPHISM_ON", "NEW_TREE", in that order, joined by
// one blank; empty without a tree.
void libsubgame_tree_flags_text(std::string* out);

// A malloc'ed copy of the parameter block (release with libsubgame_free); null without a tree.
TreeParams* libsubgame_copy_tree_params();

// Child count of a node, or its k-th child's index; -1 without a tree or for indices out of
// range.
int32_t libsubgame_child_count(int32_t node);
int32_t libsubgame_child_index(int32_t node, int32_t k);
// The node's record; null without a tree or for an index out of range.
TreeNode* libsubgame_get_node(int32_t node);

// free() of a block the library handed out.
void libsubgame_free(void* block);

// Build stages, exposed for tests.
// True when the lines form a tree in pre-order: a decision root, every parent a decision line
// before its children, players 0 or 1, decision streets 1 to 3 that never fall and rise by at
// most one street per action, every decision with an action, finite leaf amounts.
bool ValidateTreeLines(const TreeLine* lines, int32_t count);
// Actions from the root to the deepest line, for lines that ValidateTreeLines accepts.
int32_t TreeLinesDepth(const TreeLine* lines, int32_t count);
void BuildTreeNodes(SolvedTree* tree, const TreeLine* lines, int32_t count);
// Ranges, hand set, root rows and index lists. The result is kBuildOk or the failure that
// makes the tree unusable.
int32_t InitTreeRanges(SolvedTree* tree, CardMask boardMask, int32_t turn, int32_t river,
                       const double* range0, const double* range1, uint8_t isomorphism);
// Every node's storages made anew (below a forgotten street), totals and estimates, iteration
// 0, traffic counters cleared.
void AllocTreeStorage(SolvedTree* tree);
// The residency walk: resets every storage that holds nothing yet. False when a reset fails.
bool CheckTreeStorageReady(SolvedTree* tree);
// Releases everything the tree owns; the object itself stays for its owner to delete.
void DestroySolvedTree(SolvedTree* tree);
// Destroys the tree and releases every OpenMP thread's row pool. Nothing without a tree; false,
// changing nothing, while the solver thread runs.
bool libsubgame_free_scenario();

// out[ComboIndex of the combination in canonical suits] := in[ComboIndex of it in real suits],
// for 1326 eight-byte values; the canonical map of (board, turnMask, riverMask), the one every
// suit renaming of the tree uses.
void PermuteComboSuits(CardMask board, CardMask turnMask, CardMask riverMask, double* out,
                       const double* in);
