#include "solver/saved_tree_reader.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "cards/hand_set.h"
#include "compression/saved_row_reader.h"
#include "solver/chance_nodes.h"
#include "solver/forgotten_streets.h"
#include "solver/runout_walks.h"
#include "solver/solved_tree.h"
#include "solver/tree_storage.h"
#include "storage/compressed_river_storage.h"
#include "storage/node_data.h"
#include "storage/save_decompressor.h"
#include "storage/storage_interface.h"
#include "storage/thread_array_pool.h"

namespace {

[[noreturn]] void invalid(const char* what) {
    throw IOException(std::string("invalid file (") + what + ")");
}

// A row count of the file: 0 or the record's hand count.
int32_t ReadRowCount(BinaryReader& in, int32_t hands) {
    const int32_t n = ReadValue<int32_t>(in);
    if (n != 0 && n != hands) invalid("row count");
    return n;
}

void SizeRow(PooledArray* row, int32_t n) {
    ReleasePooledArray(row);
    ConstructPooledArray(row, n, true, false);
}

template <class Stored>
void ReadConvertedRow(BinaryReader& in, PooledArray* row, int32_t n, double scale) {
    SizeRow(row, n);
    Stored values[kComboCount];
    in.read(values, sizeof(Stored) * static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        row->data[i] = static_cast<float>(static_cast<double>(values[i]) * scale);
}

void LoadNodeRecord(NodeData& record, BinaryReader& in, int32_t version, int32_t hands) {
    if (version < 4) {
        for (PooledArray& row : record.rows) {
            const int32_t n = ReadRowCount(in, hands);
            if (version < 2)
                ReadConvertedRow<double>(in, &row, n, 1.0);
            else
                ReadConvertedRow<float>(in, &row, n, 1.0);
        }
    } else {
        record.rowZeroAbsent = ReadValue<uint8_t>(in);
        record.rowOneAbsent = ReadValue<uint8_t>(in);
        const uint8_t absent[2] = {record.rowZeroAbsent, record.rowOneAbsent};
        for (int a = 0; a < 2; ++a) {
            if (absent[a] != 0) continue;
            const int32_t n = ReadRowCount(in, hands);
            ReadConvertedRow<int16_t>(in, &record.rows[a], n, 1.0 / 150.0);
        }
    }
    record.done = ReadValue<uint8_t>(in);
    record.doneBits = ReadValue<uint64_t>(in);
}

bool RecordsInFile(const TreeNode& node, int32_t forgotten, int32_t version) {
    return node.nodeDataCount > 0 && (forgotten < 0 || node.street <= forgotten || version < 3);
}

bool RowsInFile(const TreeNode& node, int32_t forgotten) {
    return node.nodeDataCount > 0 && (forgotten < 0 || node.street <= forgotten);
}

std::unique_ptr<SaveDecompressor> ReadDecompressorHead(BinaryReader& in, int32_t version) {
    if (version >= 6 && ReadValue<uint8_t>(in) != 0)
        return std::make_unique<FastSaveDecompressor>(&in);
    return std::make_unique<SlowSaveDecompressor>(in);
}

// One strategy row per action but the last, in thousandths; the last takes the rest.
void LoadNodeRows(TreeNode& node, SaveDecompressor& rows, int32_t turn) {
    if (node.regrets == nullptr || node.children.empty()) return;
    const int32_t n = node.regrets->numHands(turn, -1);
    if (n < 0 || n > kComboCount) invalid("hand count");
    const int32_t k = static_cast<int32_t>(node.children.size());
    std::vector<PooledArray> actions(static_cast<size_t>(k));
    // A damaged row throws from the reader: the rows must not outlive the failed load.
    struct ReleaseRows {
        std::vector<PooledArray>& rows;
        ~ReleaseRows() { ReleasePooledArrayRange(rows.data(), rows.data() + rows.size()); }
    } release{actions};
    for (PooledArray& row : actions) ConstructPooledArray(&row, n, true, false);
    uint16_t values[kComboCount];
    PooledArray& last = actions.back();
    for (int32_t i = 0; i < n; ++i) last.data[i] = 1000.0f;
    for (int32_t a = 0; a + 1 < k; ++a) {
        rows.readRow16(values, nullptr, n);
        for (int32_t i = 0; i < n; ++i) {
            actions[a].data[i] = static_cast<float>(values[i]);
            last.data[i] -= actions[a].data[i];
        }
    }
    for (int32_t i = 0; i < n; ++i)
        if (last.data[i] < 0.0f) last.data[i] = 0.0f;
    for (int32_t a = 0; a < k; ++a) node.regrets->setAction(turn, -1, a, actions[a]);
}

// A heap copy of a reach row scaled as the forgetting stores it.
void StoreScaledReach(PooledArray* dst, const PooledArray& src) {
    ReleasePooledArray(dst);
    dst->count = src.count;
    if (!src.data) return;
    ResizePooledArray(dst, src.count, false);
    std::memcpy(dst->data, src.data, sizeof(float) * static_cast<size_t>(src.count));
    ScaleRootReach(dst);
}

// The reach rows the file leaves out, rebuilt from the loaded strategies.
void RestoreRootReach(SolvedTree* tree, int32_t street) {
    EnsureThreadPool(*tree->hands);
    std::vector<SubgameRoot> roots;
    TraversalContext root;
    root.tree = tree;
    root.node = &tree->nodes[0];
    root.turn = tree->rootTurnRecord;
    root.river = tree->rootRiverRecord;
    for (int p = 0; p < 2; ++p) {
        PooledArray& row = p == 1 ? root.opponentReach : root.ownReach;
        const std::vector<float>& reach = tree->rootRows[p];
        ConstructPooledArray(&row, static_cast<int32_t>(reach.size()), false, false);
        for (size_t i = 0; i < reach.size(); ++i) row.data[i] = reach[i];
    }
    CollectSubgameRoots(&root, street, roots);
    ReleaseFourRows(&root);
    for (SubgameRoot& r : roots) {
        NodeData& record = r.ctx.node->nodeData[street == 3 ? r.ctx.turn : 0];
        if (record.rowZeroAbsent) StoreScaledReach(&record.rows[0], r.ctx.ownReach);
        if (record.rowOneAbsent) StoreScaledReach(&record.rows[1], r.ctx.opponentReach);
        ReleaseFourRows(&r.ctx);
    }
}

bool FirstRiverNode(const TreeNode& node) {
    return node.kind == 0 && node.street == 3 && node.nodeDataCount > 0;
}

// Opens and closes (without write-back) every loaded turn of the packed river storages, so a
// damaged stream shows now and not inside a later solve or query.
double g_trialDecodeSeconds = 0.0;

void TrialDecodeRiverStreams(SolvedTree* tree) {
    g_trialDecodeSeconds = 0.0;
    if (tree->streamKinds[0] == 0 && tree->streamKinds[1] == 0) return;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::pair<TreeNode*, int32_t>> jobs;
    const int32_t turns = static_cast<int32_t>(tree->hands->records.size());
    for (TreeNode& node : tree->nodes) {
        if (!FirstRiverNode(node) || node.regrets == nullptr) continue;
        for (int32_t t = 0; t < turns; ++t) jobs.emplace_back(&node, t);
    }
    int failed = 0;
    const int count = static_cast<int>(jobs.size());
#pragma omp parallel for schedule(dynamic, 1) reduction(| : failed)
    for (int i = 0; i < count; ++i) {
        try {
            EnsureThreadPool(*tree->hands);
            for (uint8_t which = 0; which < 2; ++which) {
                // Only turns the file carries streams for: opening another would give its
                // storages new empty streams, which the saved tree did not have.
                auto* top = dynamic_cast<CompressedRiverStorage*>(
                    which == 0 ? jobs[i].first->regrets : jobs[i].first->strategySums);
                if (top == nullptr || top->ownStream(jobs[i].second) == nullptr) continue;
                OpenRiverKind(tree, jobs[i].first, jobs[i].second, which, WalkRule::All);
                CloseRiverKind(tree, jobs[i].first, jobs[i].second, which, WalkRule::None);
            }
        } catch (...) {
            failed = 1;
        }
    }
    if (!failed) {
        for (TreeNode& node : tree->nodes) {
            if (node.street != 3) continue;
            for (StorageInterface* s : {node.regrets, node.strategySums}) {
                auto* packed = dynamic_cast<CompressedRiverStorage*>(s);
                if (packed == nullptr) continue;
                for (int32_t t = 0; t < turns; ++t)
                    if (packed->ownStream(t) && packed->ownStream(t)->damaged()) failed = 1;
            }
        }
    }
    ClearStorageTraffic();
    g_trialDecodeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed) invalid("river stream");
}

void LoadTreeNodeData(SolvedTree* tree, BinaryReader& in, bool omittedRows) {
    const int32_t version = tree->formatVersion;
    const int32_t forgotten = tree->forgottenStreet;
    const uint32_t iteration = ReadValue<uint32_t>(in);
    if (iteration > static_cast<uint32_t>(INT32_MAX)) invalid("iteration count");
    tree->iteration = static_cast<int32_t>(iteration);

    for (TreeNode& node : tree->nodes) {
        if (RecordsInFile(node, forgotten, version)) {
            for (int32_t r = 0; r < node.nodeDataCount; ++r)
                LoadNodeRecord(node.nodeData[r], in, version, NodeRecordHands(tree, node, r));
        }
        // Below version 4 a forgotten tree still carries the storages that exist.
        if (forgotten < 0 || version < 4) {
            if (node.regrets) node.regrets->load(in);
            if (node.strategySums) node.strategySums->load(in);
        }
    }
    if (version < 4) return;

    for (TreeNode& node : tree->nodes) {
        if (!RowsInFile(node, forgotten)) continue;
        for (int32_t r = 0; r < node.nodeDataCount; ++r) {
            const int32_t hands = NodeRecordHands(tree, node, r);
            for (int a = 2; a < 6; ++a) SizeRow(&node.nodeData[r].rows[a], ReadRowCount(in, hands));
        }
    }
    if (!omittedRows) {
        std::unique_ptr<SaveDecompressor> rows = ReadDecompressorHead(in, version);
        uint32_t codes[kComboCount];
        for (TreeNode& node : tree->nodes) {
            if (!RowsInFile(node, forgotten)) continue;
            for (int32_t r = 0; r < node.nodeDataCount; ++r) {
                for (int a = 2; a < 6; ++a) {
                    PooledArray& row = node.nodeData[r].rows[a];
                    rows->readRow(codes, nullptr, row.count);
                    for (int32_t i = 0; i < row.count; ++i) {
                        const uint32_t u = codes[i];
                        const int32_t x = static_cast<int32_t>((u >> 1) ^ (0u - (u & 1)));
                        row.data[i] = static_cast<float>(static_cast<double>(x) * 0.01);
                    }
                }
            }
        }
    }
    if (forgotten < 0) return;
    std::unique_ptr<SaveDecompressor> rows = ReadDecompressorHead(in, version);
    const int32_t turns = static_cast<int32_t>(tree->hands->records.size());
    for (TreeNode& node : tree->nodes) {
        if (node.street >= forgotten) continue;
        if (node.street == 1) LoadNodeRows(node, *rows, -1);
        if (node.street == 2)
            for (int32_t t = 0; t < turns; ++t) LoadNodeRows(node, *rows, t);
    }
    RestoreRootReach(tree, forgotten);
    // The file holds no storages of runouts re-solved before saving: they are forgotten again.
    for (TreeNode& node : tree->nodes) {
        if (node.street != forgotten || node.nodeDataCount == 0) continue;
        for (int32_t r = 0; r < node.nodeDataCount; ++r) node.nodeData[r].doneBits = 0;
    }
}

}  // namespace

double LastTrialDecodeSeconds() {
    return g_trialDecodeSeconds;
}

int32_t NodeRecordHands(const SolvedTree* tree, const TreeNode& node, int32_t record) {
    const HandSet& hands = *tree->hands;
    if (node.street == 2) return static_cast<int32_t>(hands.hands.size());
    if (record < 0 || static_cast<size_t>(record) >= hands.recordHandCounts.size()) return 0;
    return hands.recordHandCounts[static_cast<size_t>(record)];
}

std::vector<double> ReadDoubleArray(BinaryReader& in, size_t n) {
    std::vector<double> values(n, 0.0);
    if (n > 0) in.read(values.data(), sizeof(double) * n);
    return values;
}

void libsubgame_load_tree_header(BinaryReader& in) {
    SolvedTree* tree = g_solvedTree;
    if (tree == nullptr) return;
    tree->formatVersion = in.formatVersion();
    const uint32_t flags = ReadValue<uint32_t>(in);
    const int32_t forgotten = ReadValue<int32_t>(in);
    if (forgotten != -1 && (forgotten <= tree->rootStreet() || forgotten > 3)) invalid("header");
    tree->forgottenStreet = forgotten;
    tree->flags = (flags & (kTreeIsomorphism | kTreeNew)) | (forgotten >= 0 ? kTreeIncomplete : 0);
    tree->resultsIteration = ReadValue<int32_t>(in);
    for (auto& pair : tree->bestResponse)
        for (double& v : pair) v = ReadValue<double>(in);
    tree->meanValue = ReadValue<double>(in);
    tree->exploitability = ReadValue<double>(in);
}

void libsubgame_load_tree_data(BinaryReader& in, bool omittedRows) {
    SolvedTree* tree = g_solvedTree;
    if (tree == nullptr) return;
    CheckTreeStorageReady(tree);
    LoadTreeNodeData(tree, in, omittedRows);
    TrialDecodeRiverStreams(tree);
}
