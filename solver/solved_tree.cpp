#include "solver/solved_tree.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cards/canonical_suits.h"
#include "cards/flat_index_lists.h"
#include "cards/hand_set.h"
#include "solver/forgotten_streets.h"
#include "solver/iteration_log.h"
#include "solver/solver_defaults.h"
#include "solver/solver_running.h"
#include "solver/tree_storage.h"
#include "storage/node_data.h"
#include "storage/storage_interface.h"
#include "storage/thread_array_pool.h"
#include "utilities/services.h"

SolvedTree* g_solvedTree = nullptr;

// ---------------------------------------------------------------------------------------------
// Nodes

TreeNode::TreeNode(TreeNode&& other) noexcept
    : kind(other.kind),
      parent(other.parent),
      player(other.player),
      street(other.street),
      amount(other.amount),
      children(std::move(other.children)),
      parentNode(other.parentNode),
      regrets(other.regrets),
      strategySums(other.strategySums),
      evBoost(other.evBoost),
      resident(other.resident),
      owned(other.owned),
      turnMutexes(std::move(other.turnMutexes)),
      nodeData(std::move(other.nodeData)),
      nodeDataCount(other.nodeDataCount) {
    jobCost[0].store(other.jobCost[0].load(std::memory_order_relaxed), std::memory_order_relaxed);
    jobCost[1].store(other.jobCost[1].load(std::memory_order_relaxed), std::memory_order_relaxed);
    other.regrets = nullptr;
    other.strategySums = nullptr;
    other.nodeDataCount = 0;
}

TreeNode::~TreeNode() {
    releaseOwned();
}

void TreeNode::releaseOwned() {
    if (owned) {
        delete regrets;
        delete strategySums;
        if (nodeData) {
            for (int32_t r = 0; r < nodeDataCount; ++r)
                for (PooledArray& row : nodeData[r].rows) ReleasePooledArray(&row);
        }
    }
    regrets = nullptr;
    strategySums = nullptr;
    nodeData.reset();
    nodeDataCount = 0;
    turnMutexes.reset();
}

// ---------------------------------------------------------------------------------------------
// Tree object

SolvedTree::SolvedTree() = default;
SolvedTree::~SolvedTree() {
    DestroySolvedTree(this);
}

void DestroySolvedTree(SolvedTree* tree) {
    // Storages first: river storages read their layout (the index lists) as they go.
    for (TreeNode& node : tree->nodes) node.releaseOwned();
    tree->nodes.clear();
    tree->hands.reset();
    tree->indexLists.clear();
    tree->ranges[0].clear();
    tree->ranges[1].clear();
    for (auto& row : tree->rootRows) row.clear();
}

bool libsubgame_free_scenario() {
    if (g_solvedTree == nullptr) return true;
    if (TreeSolverRunning()) return false;
    SolvedTree* tree = g_solvedTree;
    g_solvedTree = nullptr;
    DestroySolvedTree(tree);
    delete tree;
    // Each pool belongs to its thread, so the team's threads release their own. A tree that never
    // walked (a failed load) leaves none, and waking the team would cost more than the load.
    if (LiveThreadPools() == 0) return true;
#pragma omp parallel for schedule(static)
    for (int i = 0; i < 1000; ++i) {
        if (CurrentThreadPool() != nullptr) ReleaseThreadPool();
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Build stages

bool ValidateTreeLines(const TreeLine* lines, int32_t count) {
    if (lines == nullptr || count < 1) return false;
    if (lines[0].parent != -1 || lines[0].kind != 0) return false;
    std::vector<int32_t> childCount(count, 0);
    // Pre-order: each line's parent is the previous line or one of its ancestors.
    std::vector<int32_t> path;
    for (int32_t i = 0; i < count; ++i) {
        const TreeLine& line = lines[i];
        if (line.kind < 0 || line.kind > 2) return false;
        if (line.kind == 0) {
            if (line.player != 0 && line.player != 1) return false;
            if (line.street < 1 || line.street > 3) return false;
        } else if (!std::isfinite(line.amount)) {
            return false;
        }
        if (i == 0) {
            path.push_back(0);
            continue;
        }
        const int32_t p = line.parent;
        if (p < 0 || p >= i || lines[p].kind != 0) return false;
        // One chance node deals one card: a decision is on its parent's street or the next.
        if (line.kind == 0 && (line.street < lines[p].street || line.street > lines[p].street + 1))
            return false;
        while (!path.empty() && path.back() != p) path.pop_back();
        if (path.empty()) return false;
        path.push_back(i);
        ++childCount[p];
    }
    for (int32_t i = 0; i < count; ++i)
        if (lines[i].kind == 0 && childCount[i] == 0) return false;
    return true;
}

int32_t TreeLinesDepth(const TreeLine* lines, int32_t count) {
    std::vector<int32_t> depth(count, 0);
    int32_t deepest = 0;
    for (int32_t i = 1; i < count; ++i) {
        depth[i] = depth[lines[i].parent] + 1;
        deepest = std::max(deepest, depth[i]);
    }
    return deepest;
}

void BuildTreeNodes(SolvedTree* tree, const TreeLine* lines, int32_t count) {
    tree->nodes.clear();
    tree->nodes.reserve(count);
    for (int32_t i = 0; i < count; ++i) {
        TreeNode& node = tree->nodes.emplace_back();
        const TreeLine& line = lines[i];
        node.kind = line.kind;
        node.parent = line.parent;
        node.player = line.player;
        node.street = line.street;
        node.amount = line.amount;
        if (line.kind != 0) {
            const TreeLine& up = lines[line.parent];
            node.player = up.player;
            node.street = line.kind == 2 ? up.street : 3;
        }
    }
    tree->maxAmount = 0.0;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t p = lines[i].parent;
        if (p >= 0) {
            tree->nodes[p].children.push_back(i);
            tree->nodes[i].parentNode = &tree->nodes[p];
        }
        if (lines[i].kind == 1 || lines[i].kind == 2)
            tree->maxAmount = std::max(tree->maxAmount, std::fabs(lines[i].amount));
    }
    int32_t maxActions = 0;
    int64_t actionSum = 0;
    int64_t withChildren = 0;
    for (TreeNode& node : tree->nodes) {
        const bool parentBelow =
            node.parentNode == nullptr || node.parentNode->street < node.street;
        if (node.street == 2 && parentBelow) {
            node.turnMutexes = std::make_unique<std::mutex[]>(kTurnMutexCount);
            if (node.kind == 0) {
                node.nodeData.reset(new NodeData[1]());
                node.nodeDataCount = 1;
            }
        } else if (node.street == 3 && node.kind == 0 && parentBelow) {
            node.nodeData.reset(new NodeData[kTurnMutexCount]());
            node.nodeDataCount = kTurnMutexCount;
        }
        node.owned = 1;
        const int32_t k = static_cast<int32_t>(node.children.size());
        if (k >= 1) {
            maxActions = std::max(maxActions, k);
            actionSum += k;
            ++withChildren;
        }
    }
    tree->params.maxActions = maxActions;
    tree->params.averageActions =
        withChildren > 0 ? static_cast<double>(actionSum) / static_cast<double>(withChildren) : 0.0;
    out_printf("#actions max %d avg %.2g\n", maxActions, tree->params.averageActions);
}

void PermuteComboSuits(CardMask board, CardMask turnMask, CardMask riverMask, double* out,
                       const double* in) {
    uint8_t map[4];
    CanonicalSuitMap(map, board, turnMask, riverMask);
    const int perm[4] = {map[0], map[1], map[2], map[3]};
    for (int combo = 0; combo < kComboCount; ++combo) {
        out[ComboIndex(PermuteSuits(ComboMask(combo), perm))] = in[combo];
    }
}

int32_t InitTreeRanges(SolvedTree* tree, CardMask boardMask, int32_t turn, int32_t river,
                       const double* range0, const double* range1, uint8_t isomorphism) {
    if (isomorphism) tree->flags |= kTreeIsomorphism;
    const int32_t rootStreet = tree->rootStreet();
    if (rootStreet < 2) turn = river = -1;
    if (rootStreet == 2) river = -1;
    const CardMask turnMask = turn >= 0 ? CardBit(turn) : 0;
    const CardMask riverMask = river >= 0 ? CardBit(river) : 0;
    tree->board = boardMask;
    tree->deadCards = boardMask | turnMask | riverMask;

    CardMask flop = boardMask;
    int32_t handTurn = turn;
    int32_t handRiver = river;
    if (isomorphism) {
        CardMask t = turnMask;
        CardMask r = riverMask;
        uint8_t map[4];
        CanonicalizeBoard(map, &flop, &t, &r);
        handTurn = t != 0 ? LowestCard(t) : -1;
        handRiver = r != 0 ? LowestCard(r) : -1;
    }

    for (int p = 0; p < 2; ++p)
        tree->ranges[p].assign(p == 0 ? range0 : range1, (p == 0 ? range0 : range1) + kComboCount);
    std::vector<double> work[2];
    for (int p = 0; p < 2; ++p) {
        if (isomorphism) {
            // The real turn and river: the same map that runout lookup and unfolding use.
            work[p].assign(kComboCount, 0.0);
            PermuteComboSuits(boardMask, turnMask, riverMask, work[p].data(),
                              tree->ranges[p].data());
        } else {
            work[p] = tree->ranges[p];
        }
        tree->maxWeight[p] = *std::max_element(work[p].begin(), work[p].end());
    }

    tree->hands = std::make_unique<HandSet>(&flop, handTurn, handRiver, isomorphism);
    if (!SetHoles(tree->hands.get(), work[0].data(), work[1].data())) return kBuildIsomorphismError;
    const std::vector<CardMask>* rowHands = &tree->hands->hands;
    if (handTurn >= 0) {
        tree->rootTurnRecord = tree->hands->cardToRecord[handTurn];
        const SubgameRecord& record = tree->hands->records[tree->rootTurnRecord];
        rowHands = &record.hands;
        if (handRiver >= 0) {
            tree->rootRiverRecord = record.cardToRiver[handRiver];
            rowHands = &record.rivers[tree->rootRiverRecord].hands;
        }
    }
    if (!LoadRecordRanges(&tree->rootRows, work[0].data(), work[1].data(), rowHands))
        return kBuildNoCompatibleHands;

    const int32_t maxActions = tree->params.maxActions;
    tree->indexLists.clear();
    tree->indexLists.resize(maxActions + 1);
    for (int32_t k = 1; k <= maxActions; ++k) {
        tree->indexLists[k] = std::make_unique<FlatIndexLists>();
        FlattenIndexLists(tree->indexLists[k].get(), k, &tree->hands->riverHandCounts);
    }
    return kBuildOk;
}

namespace {

bool ValidCard(int32_t card) {
    return card >= 0 && card < kCardCount;
}

}  // namespace

int32_t libsubgame_build_tree(int32_t averaging, const TreeLine* lines, int32_t count,
                              int32_t flop1, int32_t flop2, int32_t flop3, int32_t turn,
                              int32_t river, const double* range0, const double* range1,
                              uint8_t isomorphism) {
    if (TreeSolverRunning()) return kBuildSolverRunning;
    if (!ValidateTreeLines(lines, count)) return kBuildInvalidLines;
    if (TreeLinesDepth(lines, count) > kMaxTreeDepth) return kBuildTooDeep;
    if (!ValidCard(flop1) || !ValidCard(flop2) || !ValidCard(flop3)) return kBuildInvalidCards;
    const CardMask flop = CardBit(flop1) | CardBit(flop2) | CardBit(flop3);
    if (CardCount(flop) != 3) return kBuildInvalidCards;
    const int32_t rootStreet = lines[0].street;
    if (rootStreet >= 2 && (!ValidCard(turn) || (flop & CardBit(turn)) != 0))
        return kBuildInvalidCards;
    if (rootStreet == 3 && (!ValidCard(river) || ((flop | CardBit(turn)) & CardBit(river)) != 0))
        return kBuildInvalidCards;
    if (range0 == nullptr || range1 == nullptr) return kBuildNoCompatibleHands;

    // The new tree is complete before the old one goes, so any failure leaves the old in place.
    auto tree = std::make_unique<SolvedTree>();
    tree->averaging = averaging;
    BuildTreeNodes(tree.get(), lines, count);
    const int32_t result =
        InitTreeRanges(tree.get(), flop, turn, river, range0, range1, isomorphism);
    if (result != kBuildOk) return result;
    const int32_t plain[2] = {0, 0};
    SetSolverDefaults(tree.get(), plain);

    if (g_solvedTree != nullptr) {
        SolvedTree* old = g_solvedTree;
        g_solvedTree = nullptr;
        DestroySolvedTree(old);
        delete old;
    }
    g_solvedTree = tree.release();
    return kBuildOk;
}

// ---------------------------------------------------------------------------------------------
// Storage

void AllocTreeStorage(SolvedTree* tree) {
    // A complete tree is made whole; an incomplete one keeps its forgotten streets empty.
    if (!(tree->flags & kTreeIncomplete)) DropForgottenState(tree);
    // Results of the storages being replaced describe a solve that is gone; a tree being loaded
    // has none yet and keeps the results its file stored.
    for (const TreeNode& node : tree->nodes)
        if (node.regrets != nullptr) tree->resultsIteration = -1;
    std::memset(tree->params.streetBytes, 0, sizeof tree->params.streetBytes);
    tree->riverStrategy = river_strategy_enabled.load(std::memory_order_relaxed) != 0 ? 1 : 0;
    const int32_t rootStreet = tree->rootStreet();
    for (TreeNode& node : tree->nodes) {
        if (tree->forgottenStreet >= 0 && tree->forgottenStreet <= node.street) continue;
        MakeNodeStorages(tree, &node, rootStreet);
    }
    const uint64_t factor = tree->averaging != 0 ? 6 : 2;
    for (int s = 0; s < 4; ++s)
        tree->params.streetEstimate[s] = tree->params.streetBytes[s] * factor;
    tree->iteration = 0;
    tree->allResident = 0;
    ClearStorageTraffic();
}

bool CheckTreeStorageReady(SolvedTree* tree) {
    if (tree->allResident) return true;
    for (TreeNode& node : tree->nodes) {
        if (node.regrets == nullptr || node.resident) continue;
        if (!node.regrets->reset()) return false;
        if (node.strategySums != nullptr && !node.strategySums->reset()) return false;
        node.resident = 1;
    }
    tree->allResident = 1;
    return true;
}

bool libsubgame_reset_progress(const int32_t kinds[2]) {
    SolvedTree* tree = g_solvedTree;
    if (tree == nullptr || TreeSolverRunning()) return false;
    SetSolverDefaults(tree, kinds);
    AllocTreeStorage(tree);
    IterationLogClear();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Queries

void libsubgame_tree_flags_text(std::string* out) {
    out->clear();
    if (g_solvedTree == nullptr) return;
    static const char* const kNames[3] = {"INCOMPLETE_TREE", "ISOMORPHISM_ON", "NEW_TREE"};
    for (int bit = 0; bit < 3; ++bit) {
        if ((g_solvedTree->flags & (1u << bit)) == 0) continue;
        if (!out->empty()) out->push_back(' ');
        out->append(kNames[bit]);
    }
}

TreeParams* libsubgame_copy_tree_params() {
    if (g_solvedTree == nullptr) return nullptr;
    auto* block = static_cast<TreeParams*>(std::malloc(sizeof(TreeParams)));
    if (block != nullptr) std::memcpy(block, &g_solvedTree->params, sizeof(TreeParams));
    return block;
}

TreeNode* libsubgame_get_node(int32_t node) {
    SolvedTree* tree = g_solvedTree;
    if (tree == nullptr || node < 0 || node >= static_cast<int32_t>(tree->nodes.size()))
        return nullptr;
    return &tree->nodes[node];
}

int32_t libsubgame_child_count(int32_t node) {
    const TreeNode* n = libsubgame_get_node(node);
    return n == nullptr ? -1 : static_cast<int32_t>(n->children.size());
}

int32_t libsubgame_child_index(int32_t node, int32_t k) {
    const TreeNode* n = libsubgame_get_node(node);
    if (n == nullptr || k < 0 || k >= static_cast<int32_t>(n->children.size())) return -1;
    return n->children[k];
}

void libsubgame_free(void* block) {
    std::free(block);
}
