// Support for the saved-tree tests: a writer of saved-tree files (versions 1 to 7) from the live
// tree and the interpreter state, and an in-process command runner. The writer reuses the
// storages' save operations and serialize_tree_info and hand-encodes the rest from the layouts.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "cards/hand_set.h"
#include "compression/row_coder.h"
#include "compression/row_transform.h"
#include "interpreter/command_loop.h"
#include "interpreter/line_set.h"
#include "interpreter/saved_tree_commands.h"
#include "interpreter/situation.h"
#include "interpreter/tree_commands.h"
#include "interpreter/tree_state.h"
#include "solver/saved_tree_reader.h"
#include "solver/solved_tree.h"
#include "storage/binary_io.h"
#include "storage/compressed_river_storage.h"
#include "storage/lock_record.h"
#include "storage/node_data.h"
#include "storage/river_storage.h"
#include "storage/row_packing.h"
#include "storage/strategy_kernels.h"
#include "utilities/output.h"

namespace saved_tree {

struct WriterOptions {
    int32_t version = 7;
    bool omittedRows = false;
    bool fastRows = false;  // version >= 6: the fast reader's selector for the row sections
    int32_t slowKind = 2;   // coder kind of the slow reader's block
};

// One command in process: the reply lines, or the error reply.
inline std::string Cmd(const std::string& line) {
    CommandWords words = split_words(line);
    std::string out;
    try {
        dispatch_command(words);
    } catch (const std::exception& e) {
        out = e.what();
        out += "\n";
    }
    out += output_buffer();
    clear_output_buffer();
    set_show_hash_lines(false);  // as a flush does
    return out;
}

template <class T>
void Put(MemoryWriter& out, const T& v) {
    WriteValue<T>(out, v);
}

// One count, length, kind, flag or version field of a written file.
struct FileField {
    size_t at;
    int width;  // bytes: 1, 2, 4 or 8
    bool isSigned;
    const char* what;
};

// Where the fields of a written file begin, and its single fields in file order.
struct FileMarks {
    size_t version, flag, board, pot, ranges, lines, header, level, iteration, nodes, rowCounts,
        rows, info, end;
    std::vector<FileField> fields;
};

// Notes that the next value written to out is the named field.
template <class T>
void MarkField(FileMarks* m, const MemoryWriter& out, const char* what) {
    if (m) m->fields.push_back({out.bytes().size(), sizeof(T), std::is_signed_v<T>, what});
}

inline void PutLine(MemoryWriter& out, const LineNode& node, FileMarks* m = nullptr) {
    MarkField<int32_t>(m, out, "line player");
    Put<int32_t>(out, node.player);
    MarkField<int32_t>(m, out, "line street");
    Put<int32_t>(out, node.street);
    MarkField<int32_t>(m, out, "line bets");
    Put<int32_t>(out, node.bets);
    Put<int32_t>(out, node.recordIndex);
    Put<double>(out, node.amount);
    Put<double>(out, node.contribution[0]);
    Put<double>(out, node.contribution[1]);
    MarkField<int32_t>(m, out, "line child count");
    Put<int32_t>(out, static_cast<int32_t>(node.children.size()));
    for (const auto& [key, child] : node.children) {
        Put<double>(out, key);
        PutLine(out, *child, m);
    }
}

inline void PutRecord(MemoryWriter& out, const NodeData& r, int32_t version,
                      FileMarks* m = nullptr) {
    if (version < 4) {
        for (const PooledArray& row : r.rows) {
            MarkField<int32_t>(m, out, "record row count");
            Put<int32_t>(out, row.count);
            for (int32_t i = 0; i < row.count; ++i) {
                const float v = row.data ? row.data[i] : 0.0f;
                if (version < 2)
                    Put<double>(out, v);
                else
                    Put<float>(out, v);
            }
        }
    } else {
        MarkField<uint8_t>(m, out, "record flag A");
        Put<uint8_t>(out, r.rowZeroAbsent);
        MarkField<uint8_t>(m, out, "record flag B");
        Put<uint8_t>(out, r.rowOneAbsent);
        const uint8_t absent[2] = {r.rowZeroAbsent, r.rowOneAbsent};
        for (int a = 0; a < 2; ++a) {
            if (absent[a]) continue;
            const PooledArray& row = r.rows[a];
            MarkField<int32_t>(m, out, "record reach count");
            Put<int32_t>(out, row.count);
            for (int32_t i = 0; i < row.count; ++i) {
                const double v = std::nearbyint((row.data ? row.data[i] : 0.0f) * 150.0);
                Put<int16_t>(out, static_cast<int16_t>(std::fmax(-32768.0, std::fmin(32767.0, v))));
            }
        }
    }
    MarkField<uint8_t>(m, out, "record done");
    Put<uint8_t>(out, r.done);
    Put<uint64_t>(out, r.doneBits);
}

// The river block layout: lock records per runout, then per turn, runout and action the row,
// raw or (16-bit, version >= 4) fast-packed. A float regret storage written as 16-bit rows is
// quantised the way the 16-bit storage's setAction does.
inline void PutRiverStorage(MemoryWriter& out, UncompressedRiverStorage* s, int32_t version,
                            bool as16, FileMarks* m) {
    const FlatIndexLists* layout = s->layout();
    for (int32_t t = 0; t < layout->turnCount; ++t)
        for (uint32_t j = 0; j < layout->turnRunouts[t].count; ++j)
            SaveLockRecord(out, *s->flagsPtr(t, static_cast<int32_t>(j)));
    auto* f = dynamic_cast<RiverStorage*>(s);
    auto* h = dynamic_cast<ShortRiverStorage*>(s);
    std::vector<uint16_t> q(kComboCount);
    std::vector<uint8_t> packed(PackedRow16Bound(kComboCount));
    for (int32_t t = 0; t < layout->turnCount; ++t) {
        for (uint32_t j = 0; j < layout->turnRunouts[t].count; ++j) {
            const int32_t river = static_cast<int32_t>(j);
            const int32_t n = s->numHands(t, river);
            for (int32_t a = 0; a < s->numActions(); ++a) {
                if (f && !as16) {
                    out.write(f->row(t, river, a), sizeof(float) * n);
                    continue;
                }
                if (f)
                    QuantizeRow16(q.data(), f->row(t, river, a), n);
                else
                    std::memcpy(q.data(), h->row(t, river, a), sizeof(uint16_t) * n);
                if (version < 4) {
                    out.write(q.data(), sizeof(uint16_t) * n);
                } else {
                    const uint8_t* end = PackRow16(packed.data(), q.data(), n);
                    MarkField<int16_t>(m, out, "river row length");
                    Put<int16_t>(out, static_cast<int16_t>(end - packed.data()));
                    out.write(packed.data(), static_cast<size_t>(end - packed.data()));
                }
            }
        }
    }
}

// The storage's first field (a lock record's flags on the river) is marked.
inline void PutStorage(MemoryWriter& out, StorageInterface* s, int32_t version, bool as16,
                       FileMarks* m = nullptr) {
    MarkField<uint32_t>(m, out, "storage head");
    if (auto* river = dynamic_cast<UncompressedRiverStorage*>(s))
        PutRiverStorage(out, river, version, as16, m);
    else
        s->save(out);
}

// Rows through the file's row-section reader: a selector (version >= 6), then fast-packed rows
// or one slow block of the chosen coder kind.
class RowSection {
public:
    RowSection(MemoryWriter& out, const WriterOptions& o, FileMarks* m = nullptr)
        : out_(out), o_(o), m_(m) {
        fast_ = o.version >= 6 && o.fastRows;
        if (o.version >= 6) {
            MarkField<uint8_t>(m, out, "row selector");
            Put<uint8_t>(out, fast_ ? 1 : 0);
        }
        if (!fast_) {
            coder_ = MakeCompressor(o.slowKind, nullptr, nullptr, write, this, &stats_);
            if (!coder_) throw std::runtime_error("no coder");
        }
    }
    void row32(const uint32_t* v, int32_t n) {
        if (n <= 0) return;
        if (!fast_) return CompressRow32(coder_, v, nullptr, n);
        std::vector<uint8_t> b(PackedRow32Bound(n));
        const uint8_t* end = PackRow32(b.data(), v, n);
        MarkField<int16_t>(m_, out_, "fast row length");
        Put<int16_t>(out_, static_cast<int16_t>(end - b.data()));
        out_.write(b.data(), static_cast<size_t>(end - b.data()));
    }
    void row16(const uint16_t* v, int32_t n) {
        if (n <= 0) return;
        if (!fast_) return CompressRow16(coder_, v, nullptr, n);
        std::vector<uint8_t> b(PackedRow16Bound(n));
        const uint8_t* end = PackRow16(b.data(), v, n);
        MarkField<int16_t>(m_, out_, "fast row length");
        Put<int16_t>(out_, static_cast<int16_t>(end - b.data()));
        out_.write(b.data(), static_cast<size_t>(end - b.data()));
    }
    void finish() {
        if (fast_) return;
        DeleteCompressor(coder_);
        for (const auto& s : streams_) {
            MarkField<uint64_t>(m_, out_, "block length");
            Put<uint64_t>(out_, s.size());
            if (&s == &streams_[0]) MarkField<uint8_t>(m_, out_, "coder kind");
            out_.write(s.data(), s.size());
        }
    }

private:
    static void write(void* ctx, int32_t s, void* data, int32_t n) {
        auto* self = static_cast<RowSection*>(ctx);
        const auto* p = static_cast<const uint8_t*>(data);
        self->streams_[s].insert(self->streams_[s].end(), p, p + n);
    }
    MemoryWriter& out_;
    WriterOptions o_;
    FileMarks* m_;
    bool fast_ = false;
    CompressorInterface* coder_ = nullptr;
    CompressionStats stats_{};
    std::vector<uint8_t> streams_[24];
};

// For every node below the forgotten street with a regret storage, per turn it reads (the flop:
// -1; a turn node: each turn record), its strategy in thousandths, one row per action.
template <class Visit>
void ForEachStrategyRow(int32_t forgotten, Visit visit) {
    SolvedTree* tree = g_solvedTree;
    const int32_t turns = static_cast<int32_t>(tree->hands->records.size());
    for (TreeNode& node : tree->nodes) {
        if (node.street >= forgotten || !node.regrets || node.children.empty()) continue;
        if (node.street != 1 && node.street != 2) continue;
        for (int32_t t = node.street == 1 ? -1 : 0; t < (node.street == 1 ? 0 : turns); ++t) {
            const size_t k = node.children.size();
            const int32_t n = node.regrets->numHands(t, -1);
            std::vector<float> defaults(k, 1.0f / static_cast<float>(k));
            std::vector<PooledArray> p(k);
            node.regrets->getStrategy(p.data(), t, -1, defaults.data());
            std::vector<std::vector<uint16_t>> thousandths(k, std::vector<uint16_t>(n));
            for (size_t a = 0; a < k; ++a) {
                for (int32_t i = 0; i < n; ++i)
                    thousandths[a][i] = static_cast<uint16_t>(
                        std::nearbyint(1000.0 * (p[a].data ? p[a].data[i] : 0.0f)));
                ReleasePooledArray(&p[a]);
            }
            visit(node, t, &thousandths);
        }
    }
}

// Sets every flop and turn strategy to its thousandths, the last action taking the rest, as a
// saved tree's strategy rows bring it back.
inline void SetThousandths(int32_t forgotten) {
    ForEachStrategyRow(forgotten,
                       [](TreeNode& node, int32_t t, std::vector<std::vector<uint16_t>>* rows) {
                           const size_t k = rows->size();
                           const int32_t n = static_cast<int32_t>((*rows)[0].size());
                           std::vector<PooledArray> a(k);
                           for (PooledArray& r : a) ConstructPooledArray(&r, n, true, false);
                           for (int32_t i = 0; i < n; ++i) a[k - 1].data[i] = 1000.0f;
                           for (size_t j = 0; j + 1 < k; ++j)
                               for (int32_t i = 0; i < n; ++i) {
                                   a[j].data[i] = (*rows)[j][i];
                                   a[k - 1].data[i] -= a[j].data[i];
                               }
                           for (int32_t i = 0; i < n; ++i)
                               a[k - 1].data[i] = std::fmax(a[k - 1].data[i], 0.0f);
                           for (size_t j = 0; j < k; ++j)
                               node.regrets->setAction(t, -1, static_cast<int32_t>(j), a[j]);
                           for (PooledArray& r : a) ReleasePooledArray(&r);
                       });
}

// Rounds the value rows (2 to 5) of every record to hundredths, as a saved tree's value rows
// bring them back.
inline void SetHundredths() {
    for (TreeNode& node : g_solvedTree->nodes)
        for (int32_t r = 0; r < node.nodeDataCount; ++r)
            for (int a = 2; a < 6; ++a) {
                PooledArray& row = node.nodeData[r].rows[a];
                for (int32_t i = 0; i < row.count; ++i)
                    row.data[i] = static_cast<float>(std::nearbyint(row.data[i] * 100.0) * 0.01);
            }
}

// The whole file of the live tree (the tree's own forgotten street, none today).
inline std::vector<uint8_t> WriteSavedTree(const WriterOptions& o, FileMarks* marks = nullptr) {
    FileMarks m{};
    SolvedTree* tree = g_solvedTree;
    if (!tree) throw std::runtime_error("no tree");
    const int32_t v = o.version;
    const int32_t forgotten = tree->forgottenStreet;
    MemoryWriter out;
    auto at = [&out] { return out.bytes().size(); };
    out.write("QX7:", 4);
    m.version = at();
    MarkField<int32_t>(&m, out, "version");
    Put<int32_t>(out, v);
    m.flag = at();
    if (v >= 4) {
        MarkField<uint8_t>(&m, out, "omitted-rows flag");
        Put<uint8_t>(out, o.omittedRows ? 1 : 0);
    }
    m.board = at();
    for (CardMask mask : TreeBoardMasks) Put<uint64_t>(out, mask);
    m.pot = at();
    for (double p : PotValues) Put<double>(out, p);
    m.ranges = at();
    for (const auto& range : PlayerRanges) out.write(range.data(), sizeof(double) * kComboCount);
    m.lines = at();
    PutLine(out, *line_set().root, &m);
    m.header = at();
    MarkField<uint32_t>(&m, out, "tree flags");
    Put<uint32_t>(out, tree->flags);
    MarkField<int32_t>(&m, out, "forgotten street");
    Put<int32_t>(out, forgotten);
    MarkField<int32_t>(&m, out, "results iteration");
    Put<int32_t>(out, tree->resultsIteration);
    for (const auto& pair : tree->bestResponse)
        for (double x : pair) Put<double>(out, x);
    Put<double>(out, tree->meanValue);
    Put<double>(out, tree->exploitability);
    m.level = at();
    MarkField<int32_t>(&m, out, "level");
    Put<int32_t>(out, AppliedCompression);
    m.iteration = at();
    MarkField<uint32_t>(&m, out, "iteration count");
    Put<uint32_t>(out, static_cast<uint32_t>(tree->iteration));
    m.nodes = at();
    // A turn root below version 5 loads 16-bit river regrets.
    const bool regrets16 = tree->rootStreet() == 2 && v < 5;
    for (TreeNode& node : tree->nodes) {
        if (node.nodeDataCount > 0 && (forgotten < 0 || node.street <= forgotten || v < 3))
            for (int32_t r = 0; r < node.nodeDataCount; ++r)
                PutRecord(out, node.nodeData[r], v, &m);
        if (forgotten < 0 || v < 4) {
            if (node.regrets) PutStorage(out, node.regrets, v, regrets16, &m);
            if (node.strategySums) PutStorage(out, node.strategySums, v, false, &m);
        }
    }
    m.rowCounts = at();
    if (v >= 4) {
        std::vector<NodeData*> records;
        for (TreeNode& node : tree->nodes) {
            if (node.nodeDataCount == 0 || (forgotten >= 0 && node.street > forgotten)) continue;
            for (int32_t r = 0; r < node.nodeDataCount; ++r) {
                records.push_back(&node.nodeData[r]);
                for (int a = 2; a < 6; ++a) {
                    MarkField<int32_t>(&m, out, "value row count");
                    Put<int32_t>(out, node.nodeData[r].rows[a].count);
                }
            }
        }
        m.rows = at();
        if (!o.omittedRows) {
            RowSection rows(out, o, &m);
            std::vector<uint32_t> codes(kComboCount);
            for (NodeData* r : records) {
                for (int a = 2; a < 6; ++a) {
                    const PooledArray& row = r->rows[a];
                    for (int32_t i = 0; i < row.count; ++i) {
                        const double x = std::nearbyint((row.data ? row.data[i] : 0.0f) * 100.0);
                        codes[i] = zigzag_encode(static_cast<uint32_t>(static_cast<int32_t>(
                            std::fmax(-2147483647.0, std::fmin(2147483647.0, x)))));
                    }
                    rows.row32(codes.data(), row.count);
                }
            }
            rows.finish();
        }
    }
    if (v >= 4 && forgotten >= 0) {
        RowSection rows(out, o, &m);
        ForEachStrategyRow(
            forgotten, [&](TreeNode&, int32_t, std::vector<std::vector<uint16_t>>* actions) {
                for (size_t a = 0; a + 1 < actions->size(); ++a)
                    rows.row16((*actions)[a].data(), static_cast<int32_t>((*actions)[a].size()));
            });
        rows.finish();
    }
    m.info = at();
    if (v >= 7) {
        MarkField<int32_t>(&m, out, "info count");
        serialize_tree_info(out);
        for (size_t pos = m.info + 4, i = 0; i < TreeInfoLines.size(); ++i) {
            m.fields.push_back({pos, 4, true, "info length"});
            pos += 4 + TreeInfoLines[i].size();
        }
    }
    m.end = at();
    if (marks) *marks = m;
    return out.take();
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace saved_tree
