// Saved trees through load_tree: files the test writer makes from live trees load back into the
// same tree (every stored byte), answer the same and solve on bit for bit; damaged files give
// load_tree's error reply, leave no tree, and a good file loads after them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../fuzz/load_tree_target.h"
#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "program_session.h"
#include "saved_tree_writer.h"
#include "solver/iteration_thresholds.h"
#include "storage/node_data.h"

namespace {

using saved_tree::Cmd;
using saved_tree::WriterOptions;
using Bytes = std::vector<uint8_t>;

struct Spot {
    const char* board;
    std::vector<const char*> lines;
    const char* riverPath;  // a river node, for a query below the packed rows
};

const Spot kFlop = {"Ks 7h 2d",
                    {"add_line 0 0 0 0 0 0", "add_line 0 0 0 0 50 50", "add_line 50 50 0 0 0 0",
                     "add_line 50 100 100 0 0 0 0"},
                    "r:0:c:c:6s:c:c:3c"};
const Spot kTurn = {
    "Ks 7h 2d 9c",
    {"add_line 0 0 0 0", "add_line 0 50 50 0 0", "add_line 50 50 50 50", "add_line 50 150 150 0 0"},
    "r:0:c:c:3c"};
const Spot kRiver = {
    "Ks 7h 2d 9c 4h", {"add_line 0 0", "add_line 50 50", "add_line 0 50 150 150"}, "r:0:b50"};

// Narrow ranges keep the flop trees small: pairs and broadways for OOP, pairs and suited
// hands for IP.
void SetUpSpot(const Spot& spot, int level, int iterations) {
    static bool once = [] {
        InitHandEvalTables();
        build_combo_tables();
        return true;
    }();
    (void)once;
    for (int p = 0; p < 2; ++p) {
        PlayerRanges[p].assign(kComboCount, 0.0);
        for (int c = 0; c < kComboCount; ++c) {
            const CardPair pair = ComboCards(c);
            const int a = CardRank(CardPairHi(pair)), b = CardRank(CardPairLo(pair));
            const bool suited = CardSuit(CardPairHi(pair)) == CardSuit(CardPairLo(pair));
            if (a == b || (p == 0 ? std::min(a, b) >= 9 : suited && std::max(a, b) >= 10))
                PlayerRanges[p][c] = 1.0;
        }
    }
    ASSERT_EQ(Cmd(std::string("set_board ") + spot.board), "set_board ok!\n");
    Cmd("set_pot 0 0 100");
    Cmd("set_isomorphism 1 1");
    Cmd("clear_lines");
    for (const char* line : spot.lines) Cmd(line);
    Cmd("set_compression " + std::to_string(level));
    ASSERT_EQ(Cmd("build_tree"), "build_tree ok!\n");
    Cmd("reset_tree_info");
    Cmd("add_info_line \"first line\"");
    Cmd("add_info_line #x");
    if (iterations > 0) {
        Cmd("go " + std::to_string(iterations) + " steps");
        Cmd("wait_for_solver");
    }
}

// Every storage's bytes, in node order (what a solve changes).
Bytes StorageBytes() {
    MemoryWriter out;
    const bool as16 = false;
    for (TreeNode& node : g_solvedTree->nodes) {
        if (node.regrets) saved_tree::PutStorage(out, node.regrets, 7, as16);
        if (node.strategySums) saved_tree::PutStorage(out, node.strategySums, 7, as16);
    }
    return out.take();
}

std::string Answers(const Spot& spot, int version) {
    std::string a;
    for (const char* q : {"show_strategy r:0", "show_node r", "show_node r:0",
                          "get_actual_compression", "calc_results", "is_tree_present"})
        a += Cmd(q);
    // Older files carry no info lines.
    if (version >= 7) a += Cmd("show_tree_info");
    a += Cmd(std::string("show_strategy ") + spot.riverPath);
    return a;
}

// -1 when equal, else the first offset that differs (or the shorter size).
long FirstDifference(const Bytes& a, const Bytes& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

std::string TempPath() {
    char path[] = "/tmp/nlhe_saved_tree_XXXXXX";
    close(mkstemp(path));
    return path;
}

TEST(SavedTree, RoundTripsAndSolvesOn) {
    struct Case {
        const Spot* spot;
        int level;
        WriterOptions o;
    };
    const Case cases[] = {
        {&kRiver, 0, {1, false, false, 2}}, {&kRiver, 0, {3, false, false, 2}},
        {&kTurn, 0, {2, false, false, 2}},  {&kTurn, 0, {4, false, false, 0}},
        {&kTurn, 1, {5, false, false, 1}},  {&kFlop, 0, {6, false, true, 2}},
        {&kFlop, 1, {7, false, false, 0}},  {&kFlop, 2, {7, false, false, 1}},
        {&kFlop, 2, {6, true, false, 2}},   {&kFlop, 4, {7, false, true, 2}},
    };
    const std::string path = TempPath();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.spot->board << " level " << c.level << " version "
                                        << c.o.version << " kind " << c.o.slowKind);
        SetUpSpot(*c.spot, c.level, 7);
        const Bytes file = saved_tree::WriteSavedTree(c.o);
        saved_tree::WriteFile(path, file);
        const std::string before = Answers(*c.spot, c.o.version);
        ASSERT_EQ(before.find("ERROR"), std::string::npos) << before;
        Cmd("go 5 steps");
        Cmd("wait_for_solver");
        const Bytes solvedOn = StorageBytes();

        Cmd("set_isomorphism 0 0");  // the file's flag decides
        ASSERT_EQ(Cmd("load_tree " + path), "load_tree ok!\n");
        Cmd("set_isomorphism 1 1");
        EXPECT_EQ(FirstDifference(saved_tree::WriteSavedTree(c.o), file), -1) << file.size();
        EXPECT_EQ(Answers(*c.spot, c.o.version), before);
        // A turn root below version 5 solves on with 16-bit river regrets.
        if (c.spot == &kTurn && c.o.version < 5) continue;
        Cmd("go 5 steps");
        Cmd("wait_for_solver");
        EXPECT_EQ(FirstDifference(StorageBytes(), solvedOn), -1) << solvedOn.size();
    }
    // While the solver runs, the tree stays.
    ASSERT_EQ(Cmd("go 1000000 steps"), "go ok!\n");
    EXPECT_EQ(Cmd("free_tree"), "ERROR: free_tree Can't do that when solver is running\n");
    EXPECT_EQ(Cmd("load_tree " + path), "ERROR: load_tree Can't do that when solver is running\n");
    Cmd("stop");
    Cmd("wait_for_solver");
    EXPECT_EQ(Cmd("is_tree_present"), "true\n");
    std::remove(path.c_str());
}

}  // namespace

namespace {

bool FileError(const std::string& reply) {
    return reply.rfind("ERROR: load_tree can't read from file (errno 0)", 0) == 0 ||
           reply.rfind("ERROR: load_tree invalid file", 0) == 0;
}

// Small river-rooted files: every cut and a set of damaged fields. Each failure leaves no tree,
// and the good file loads after it.
TEST(SavedTree, DamagedFiles) {
    struct Damage {
        const char* name;
        size_t saved_tree::FileMarks::*field;
        long offset;
        std::vector<uint8_t> bytes;
        const char* reply;  // expected prefix; null: any file error or a load
    };
    auto i32 = [](int32_t v) {
        std::vector<uint8_t> b(4);
        std::memcpy(b.data(), &v, 4);
        return b;
    };
    auto f64 = [](double v) {
        std::vector<uint8_t> b(8);
        std::memcpy(b.data(), &v, 8);
        return b;
    };
    using M = saved_tree::FileMarks;
    const std::string invalid = "ERROR: load_tree invalid file (";
    const Damage damages[] = {
        {"version 8", &M::version, 0, i32(8),
         "ERROR: load_tree unsupported data format, update to latest version"},
        {"version INT_MAX", &M::version, 0, i32(INT32_MAX),
         "ERROR: load_tree unsupported data format"},
        {"version -1", &M::version, 0, i32(-1), nullptr},
        {"version 0", &M::version, 0, i32(0), nullptr},
        {"version 1 lower", &M::version, 0, i32(2), nullptr},
        {"tag", &M::version, 4 - 8, {'Q', 'X', '8', ':'}, "ERROR: load_tree invalid file"},
        {"four flop cards", &M::board, 0, {0x0F}, "ERROR: load_tree invalid file (board)"},
        {"card above 51", &M::board, 7, {0x80}, "ERROR: load_tree invalid file (board)"},
        {"two turn cards", &M::board, 8, {0xFF}, "ERROR: load_tree invalid file (board)"},
        {"river cards 48 and 49",
         &M::board,
         16,
         {0, 0, 0, 0, 0, 0, 3, 0},
         "ERROR: load_tree invalid file (board)"},
        {"pot NaN", &M::pot, 16, f64(NAN), "ERROR: load_tree invalid file (amount)"},
        {"pot huge", &M::pot, 16, f64(1e300), "ERROR: load_tree invalid file (amount)"},
        {"weight negative", &M::ranges, 800, f64(-1.0), "ERROR: load_tree invalid file (range)"},
        {"weight infinite", &M::ranges, 8, f64(INFINITY), "ERROR: load_tree invalid file (range)"},
        {"line street", &M::lines, 4, i32(9), "ERROR: load_tree invalid file (line street)"},
        {"root children -1", &M::lines, 40, i32(-1), "ERROR: load_tree lines not set"},
        {"root children huge", &M::lines, 40, i32(INT32_MAX), nullptr},
        {"child key NaN", &M::lines, 44, f64(NAN), "ERROR: load_tree invalid file (amount)"},
        {"forgotten 0", &M::header, 4, i32(0), "ERROR: load_tree invalid file (header)"},
        {"forgotten 3 on a river root", &M::header, 4, i32(3),
         "ERROR: load_tree invalid file (header)"},
        {"forgotten INT_MIN", &M::header, 4, i32(INT32_MIN),
         "ERROR: load_tree invalid file (header)"},
        {"level -1", &M::level, 0, i32(-1), nullptr},
        {"level 5", &M::level, 0, i32(5), nullptr},
        {"iterations 2^31", &M::iteration, 0, i32(INT32_MIN),
         "ERROR: load_tree invalid file (iteration count)"},
        {"record flags", &M::nodes, 0, i32(5), nullptr},
        {"record count -1", &M::nodes, 2, i32(-1), "ERROR: load_tree invalid file ("},
        // The root's records past the tree's runouts hold no hands.
        {"value row count past the runouts", &M::rowCounts, 16, i32(1),
         "ERROR: load_tree invalid file (row count)"},
    };
    struct FileCase {
        WriterOptions o;
        // Offsets from the value rows: each must fail (a slow block read as fast rows may
        // decode to values, so a selector turned on is left out).
        std::vector<std::pair<size_t, std::vector<uint8_t>>> extra;
    };
    const FileCase files[] = {
        {{3, false, false, 2}, {}},
        {{5, false, false, 0}, {{8, {3}}, {9, {'c'}}, {0, {0, 0, 0, 0, 0, 0, 0, 0x40}}}},
        {{6, false, true, 2}, {{0, {0}}}},
        {{7, false, false, 1}, {{1 + 8, {3}}, {1 + 8, {9}}, {1, {0xFF, 0xFF, 0xFF, 0xFF}}}},
    };
    const std::string path = TempPath();
    const std::string good = TempPath();
    for (const FileCase& f : files) {
        SCOPED_TRACE(testing::Message() << "version " << f.o.version);
        SetUpSpot(kRiver, 0, 2);
        saved_tree::FileMarks marks;
        const Bytes file = saved_tree::WriteSavedTree(f.o, &marks);
        saved_tree::WriteFile(good, file);
        // The fuzz target's seeds are these files.
        if (const char* seeds = std::getenv("NLHE_LOAD_TREE_SEEDS"))
            saved_tree::WriteFile(std::string(seeds) + "/v" + std::to_string(f.o.version), file);
        auto expect_no_tree_then_good = [&] {
            EXPECT_EQ(Cmd("is_tree_present"), "false\n");
            ASSERT_EQ(Cmd("load_tree " + good), "load_tree ok!\n");
        };
        // Cuts at and just past the start of every field, and 49 spread over the file.
        std::vector<size_t> cuts;
        for (size_t start : {size_t{0}, marks.version, marks.flag, marks.board, marks.pot,
                             marks.ranges, marks.lines, marks.header, marks.level, marks.iteration,
                             marks.nodes, marks.rowCounts, marks.rows, marks.info, marks.end - 1})
            for (size_t k = 0; k < 3; ++k) cuts.push_back(start + k * k);
        for (size_t k = 1; k < 50; ++k) cuts.push_back(file.size() * k / 50);
        for (size_t cut : cuts) {
            if (cut >= file.size()) continue;
            saved_tree::WriteFile(path, Bytes(file.begin(), file.begin() + static_cast<long>(cut)));
            const std::string reply = Cmd("load_tree " + path);
            ASSERT_TRUE(FileError(reply)) << cut << " " << reply;
            EXPECT_EQ(Cmd("is_tree_present"), "false\n");
        }
        for (const Damage& d : damages) {
            SCOPED_TRACE(d.name);
            Bytes bad = file;
            const long at = static_cast<long>(marks.*(d.field)) + d.offset;
            if (d.field == &M::version && f.o.version < 4 &&
                std::string(d.name) == "version 1 lower")
                continue;
            if (static_cast<size_t>(at) + d.bytes.size() > marks.end) continue;  // no such field
            std::copy(d.bytes.begin(), d.bytes.end(), bad.begin() + at);
            saved_tree::WriteFile(path, bad);
            const std::string reply = Cmd("load_tree " + path);
            if (d.reply) {
                EXPECT_EQ(reply.rfind(d.reply, 0), 0u) << reply;
            } else if (reply != "load_tree ok!\n") {
                EXPECT_EQ(reply.rfind("ERROR: load_tree ", 0), 0u) << reply;
            }
            if (reply != "load_tree ok!\n") expect_no_tree_then_good();
        }
        for (const auto& [offset, bytes] : f.extra) {
            SCOPED_TRACE(testing::Message() << "row section +" << offset);
            Bytes bad = file;
            std::copy(bytes.begin(), bytes.end(),
                      bad.begin() + static_cast<long>(marks.rows + offset));
            saved_tree::WriteFile(path, bad);
            const std::string reply = Cmd("load_tree " + path);
            EXPECT_TRUE(FileError(reply)) << reply;
            expect_no_tree_then_good();
        }
    }
    std::remove(path.c_str());
    std::remove(good.c_str());
}

// Where the rows of the first packed river stream that holds any begin in a saved tree, and how
// many bytes they take: the block is 4-byte lock records, a streams byte, then per turn a stream
// (kind 1: u32, u64, u64 byte count, bytes; kind 2: 24 length pairs, u64, u64 byte count, bytes).
std::pair<size_t, size_t> FirstStreamRows(const Bytes& file) {
    for (TreeNode& node : g_solvedTree->nodes) {
        auto* packed = dynamic_cast<CompressedRiverStorage*>(node.strategySums);
        if (packed == nullptr) continue;
        MemoryWriter out;
        packed->save(out);
        const Bytes block = out.take();
        const auto found = std::search(file.begin(), file.end(), block.begin(), block.end());
        if (found == file.end()) return {0, 0};
        size_t at =
            static_cast<size_t>(found - file.begin()) + 4 * packed->layout()->runoutCount + 1;
        const size_t head = packed->kind() == 1 ? 20 : 208;
        for (size_t end = static_cast<size_t>(found - file.begin()) + block.size(); at < end;) {
            uint64_t count;
            std::memcpy(&count, file.data() + at + head - 8, 8);
            if (count > 0) return {at + head, count};
            at += head;
        }
    }
    return {0, 0};
}

// Flop trees at levels that pack the river storages: a stream whose rows do not decode fails the
// load itself, not a later solve or query; no tree is left, and the good file loads after it.
TEST(SavedTree, UndecodableRiverStreams) {
    struct Case {
        int level;
        WriterOptions o;
        bool cut;  // the kind-1 stream cut to its first 16 bytes, else 64 bytes of 0xFF
    };
    const Case cases[] = {{1, {7, false, false, 2}, true}, {3, {6, false, true, 2}, false}};
    const std::string path = TempPath();
    const std::string good = TempPath();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level);
        SetUpSpot(kFlop, c.level, kFirstAveragedIteration + 1);  // river sums hold rows
        const Bytes file = saved_tree::WriteSavedTree(c.o);
        saved_tree::WriteFile(good, file);
        const auto [rows, count] = FirstStreamRows(file);
        ASSERT_GE(count, 128u);
        Bytes bad = file;
        if (c.cut) {
            const uint32_t need = 16;
            const uint64_t bytes = need;
            std::memcpy(bad.data() + rows - 20, &need, 4);
            std::memcpy(bad.data() + rows - 8, &bytes, 8);
            bad.erase(bad.begin() + static_cast<long>(rows + need),
                      bad.begin() + static_cast<long>(rows + count));
        } else {
            // Past the kind byte, which the load checks itself.
            std::fill_n(bad.begin() + static_cast<long>(rows + 1), 64, uint8_t{0xFF});
        }
        saved_tree::WriteFile(path, bad);
        EXPECT_EQ(Cmd("load_tree " + path), "ERROR: load_tree invalid file (river stream)\n");
        EXPECT_EQ(Cmd("is_tree_present"), "false\n");
        EXPECT_EQ(Cmd("load_tree " + good), "load_tree ok!\n");
    }
    std::remove(path.c_str());
    std::remove(good.c_str());
}

}  // namespace

namespace {

// The reach rows a forgotten tree keeps for its re-solves, by node and record.
std::vector<std::vector<float>> StoredReach(int32_t street) {
    std::vector<std::vector<float>> rows;
    for (TreeNode& node : g_solvedTree->nodes) {
        if (node.street != street) continue;
        for (int32_t r = 0; r < node.nodeDataCount; ++r) {
            const NodeData& d = node.nodeData[r];
            const uint8_t absent[2] = {d.rowZeroAbsent, d.rowOneAbsent};
            for (int p = 0; p < 2; ++p) {
                if (!absent[p]) continue;
                const PooledArray& row = d.rows[p];
                rows.emplace_back(row.data, row.data + row.count);
            }
        }
    }
    return rows;
}

bool SomeStoredValueNegative() {
    for (TreeNode& node : g_solvedTree->nodes)
        for (int32_t r = 0; r < node.nodeDataCount; ++r)
            for (int a = 2; a < 6; ++a) {
                const PooledArray& row = node.nodeData[r].rows[a];
                if (std::any_of(row.data, row.data + row.count, [](float v) { return v < 0; }))
                    return true;
            }
    return false;
}

// calc_results without its storage rate line, which follows the solve's traffic.
std::string Results() {
    const std::string reply = Cmd("calc_results");
    return reply.substr(0, reply.find("END\n"));
}

// Forgotten flop trees: strategies in thousandths and stored values (losses included) in
// hundredths come back exactly, the restored reach rows equal the forgetting's bit for bit, the
// loaded tree writes the same file, calc_results and calc_ev answer from the stored values as the
// original did, queries below the forgotten street re-solve to the same answers, and go waits for
// rebuild_all.
TEST(SavedTree, ForgottenStreets) {
    struct Case {
        int street;
        int level;
        WriterOptions o;
    };
    const Case cases[] = {
        {3, 0, {4, false, false, 2}}, {2, 1, {5, false, false, 0}}, {3, 2, {6, false, true, 2}},
        {2, 0, {7, false, false, 1}}, {3, 1, {7, true, false, 2}},
    };
    const std::string path = TempPath();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "street " << c.street << " level " << c.level
                                        << " version " << c.o.version);
        SetUpSpot(kFlop, c.level, 5);
        // Re-solves to 0.03 % of the pot stop at 50 or 75 iterations (past the first averaged
        // one) in place of running to their limit: the answers before the save and after the
        // load still come from re-solves that must agree.
        ASSERT_EQ(Cmd("set_recalc_accuracy 0.0003 0.0003 0.0003"), "set_recalc_accuracy ok!\n");
        saved_tree::SetThousandths(c.street);
        ASSERT_EQ(Cmd(c.street == 2 ? "forget turns" : "forget rivers"), "forget ok!\n");
        saved_tree::SetHundredths();
        ASSERT_TRUE(SomeStoredValueNegative());
        const Bytes file = saved_tree::WriteSavedTree(c.o);
        saved_tree::WriteFile(path, file);
        const std::vector<std::vector<float>> reach = StoredReach(c.street);
        ASSERT_FALSE(reach.empty());
        const std::string queries[] = {"calc_ev OOP r", "calc_ev IP r:0", "show_strategy r:0",
                                       "show_strategy r:0:c:c:6s",
                                       std::string("show_strategy ") + kFlop.riverPath};
        // Without value rows a loaded tree's values are zeros.
        const bool values = !c.o.omittedRows;
        std::string before = values ? Results() : "";
        for (const std::string& q : queries)
            if (values || q.rfind("calc_ev", 0) != 0) before += Cmd(q);
        ASSERT_EQ(before.find("ERROR"), std::string::npos) << before;

        ASSERT_EQ(Cmd("load_tree " + path), "load_tree ok!\n");
        EXPECT_EQ(StoredReach(c.street), reach);
        EXPECT_EQ(FirstDifference(saved_tree::WriteSavedTree(c.o), file), -1) << file.size();
        EXPECT_EQ(Cmd("go 1 steps"), "ERROR: go incomplete tree\n");
        EXPECT_NE(Cmd("show_node r").find("INCOMPLETE_TREE"), std::string::npos);
        std::string after = values ? Results() : "";
        for (const std::string& q : queries)
            if (values || q.rfind("calc_ev", 0) != 0) after += Cmd(q);
        EXPECT_EQ(after, before);
        EXPECT_EQ(Cmd("rebuild_all"), "rebuild_all ok!\n");
        EXPECT_EQ(Cmd("go 1 steps"), "go ok!\n");
        Cmd("wait_for_solver");
    }
    Cmd("set_recalc_accuracy 0 0 0");
    std::remove(path.c_str());
}

}  // namespace

namespace {

// The fuzz target's corpus through its body: the sanitizer build checks every seed.
TEST(SavedTree, FuzzCorpusReplays) {
    const std::filesystem::path dir =
        std::filesystem::path(NLHE_TEST_DATA_DIR) / "fuzz" / "corpus" / "load_tree";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fuzz::load_tree(bytes.data(), bytes.size());
        ++files;
    }
    EXPECT_GE(files, 4);
}

// A file whose strategy rows break off mid-node, through the real program: refused, and nothing
// of the failed load is left behind (the sanitizer build's leak check ends the run otherwise).
TEST(SavedTree, RowsBrokenOffMidNodeLeaveNothingBehind) {
    const std::string file = std::string(NLHE_TEST_DATA_DIR) +
                             "/fuzz/corpus/load_tree/7adc909d09ef4628c03cc74fae6d18e17fc4df29";
    int status = -1;
    const session::Lines out =
        session::run_script("load_tree \"" + file + "\"\nis_ready\n", &status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1], "ERROR: load_tree invalid file (packed row)");
    EXPECT_EQ(out[2], "is_ready ok!");
}

// The numbers inside the rows carry no checksum: 64 bytes inverted inside the raw float rows of
// a golden file's river storages load, and the program answers with what they now hold (the
// undamaged files give EV OOP 56.250).
TEST(SavedTree, ChangedRowBytesLoadAndAnswer) {
    struct Case {
        const char* file;
        long offset;  // from the start, or from the end when negative
        const char* ev;
    };
    const Case cases[] = {
        // Versions 1 and 3 end with the storages (43274 bytes), version 5 has its coded value
        // rows after them.
        {"river_v1.qx7", -20000, "EV OOP: 1561462.875"},
        {"river_v3.qx7", -20000, "EV OOP: 1561462.875"},
        {"river_v5.qx7", 40000, "EV OOP: 2910067.750"},
    };
    const std::string path = TempPath();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::ifstream in(std::string(NLHE_TEST_DATA_DIR) + "/saved_trees/" + c.file,
                         std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const long at = c.offset < 0 ? static_cast<long>(bytes.size()) + c.offset : c.offset;
        for (long i = at; i < at + 64; ++i) bytes[static_cast<size_t>(i)] ^= 0xFF;
        saved_tree::WriteFile(path, bytes);
        const session::Lines out = session::run_script("load_tree " + path + "\ncalc_results\n");
        ASSERT_GE(out.size(), 3u);
        EXPECT_EQ(out[1], "load_tree ok!");
        EXPECT_EQ(out[2], c.ev);
    }
    std::remove(path.c_str());
}

}  // namespace

namespace {

// Cuts of the golden files, read from memory: the read error or an invalid-file reply, no tree
// left, and the whole file loads after. Every offset of the first 2 KiB, then every 7th (all
// alignments); NLHE_EVERY_CUT=1 takes every offset (minutes).
TEST(LongSavedTree, CutsOfTheGoldenFiles) {
    const size_t stride = std::getenv("NLHE_EVERY_CUT") ? 1 : 7;
    const std::filesystem::path dir = std::filesystem::path(NLHE_TEST_DATA_DIR) / "saved_trees";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".qx7") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        set_current_command_word("load_tree");
        for (size_t cut = 0; cut < bytes.size(); cut += cut < 2048 ? 1 : stride) {
            std::string reply;
            try {
                load_tree_from([&] {
                    // fmemopen refuses an empty buffer.
                    FILE* f = cut == 0 ? std::fopen("/dev/null", "rb")
                                       : fmemopen(const_cast<uint8_t*>(bytes.data()), cut, "rb");
                    return std::make_unique<FileReader>(f);
                });
                reply = "load_tree ok!";
            } catch (const std::exception& e) {
                reply = e.what();
            }
            clear_output_buffer();
            ASSERT_TRUE(FileError(reply)) << cut << " " << reply;
            ASSERT_FALSE(TreePresent) << cut;
            ASSERT_EQ(g_solvedTree, nullptr) << cut;
        }
        EXPECT_EQ(Cmd("load_tree " + entry.path().string()), "load_tree ok!\n");
        EXPECT_EQ(Cmd("is_tree_present"), "true\n");
    }
    EXPECT_GE(files, 3);
}

}  // namespace

namespace {

// The six damaged forms of a field: 0, all ones (-1), one below and one above its value, and the
// type's signed extremes.
std::vector<uint64_t> DamagedForms(uint64_t value, int width) {
    const uint64_t all = width == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * width)) - 1;
    const uint64_t sign = uint64_t{1} << (8 * width - 1);
    std::vector<uint64_t> forms;
    for (uint64_t v : {uint64_t{0}, all, (value - 1) & all, (value + 1) & all, sign, sign - 1})
        if (v != value && std::find(forms.begin(), forms.end(), v) == forms.end())
            forms.push_back(v);
    return forms;
}

struct FieldFile {
    const Spot* spot;
    int forget;  // street forgotten before writing, 0 for none
    WriterOptions o;
};

// Every count, length, kind, flag and version field of a writer file, the first and the last of
// each kind, in each damaged form: a load or load_tree's error reply. A load answers a query; a
// failure leaves no tree, and the good file loads after it. A level outside the table loads as
// plain storage and keeps its number. Forgotten flop files (pairs against pairs, to keep their
// loads short) add the first field of each kind in their node data.
void DamageEveryField(const FieldFile& f) {
    SCOPED_TRACE(testing::Message() << f.spot->board << " version " << f.o.version);
    SetUpSpot(*f.spot, 0, 2);
    if (f.forget) {
        for (int p = 0; p < 2; ++p)
            for (int c = 0; c < kComboCount; ++c)
                if (CardRank(CardPairHi(ComboCards(c))) != CardRank(CardPairLo(ComboCards(c))))
                    PlayerRanges[p][c] = 0.0;
        ASSERT_EQ(Cmd("build_tree"), "build_tree ok!\n");
        Cmd("go 2 steps");
        Cmd("wait_for_solver");
        saved_tree::SetThousandths(f.forget);
        ASSERT_EQ(Cmd(f.forget == 2 ? "forget turns" : "forget rivers"), "forget ok!\n");
    }
    saved_tree::FileMarks marks;
    const Bytes file = saved_tree::WriteSavedTree(f.o, &marks);
    const std::string path = TempPath();
    const std::string good = TempPath();
    saved_tree::WriteFile(good, file);
    std::map<std::string, std::vector<saved_tree::FileField>> byKind;
    for (const saved_tree::FileField& field : marks.fields)
        if (!f.forget || field.at >= marks.nodes) byKind[field.what].push_back(field);
    std::vector<saved_tree::FileField> picked;
    for (const auto& [what, fields] : byKind) {
        picked.push_back(fields.front());
        if (fields.size() > 1 && !f.forget) picked.push_back(fields.back());
    }
    for (const saved_tree::FileField& field : picked) {
        uint64_t value = 0;
        std::memcpy(&value, file.data() + field.at, static_cast<size_t>(field.width));
        for (uint64_t form : DamagedForms(value, field.width)) {
            SCOPED_TRACE(testing::Message()
                         << field.what << " at " << field.at << " = 0x" << std::hex << form);
            Bytes bad = file;
            std::memcpy(bad.data() + field.at, &form, static_cast<size_t>(field.width));
            saved_tree::WriteFile(path, bad);
            const std::string reply = Cmd("load_tree " + path);
            if (reply == "load_tree ok!\n") {
                EXPECT_EQ(Cmd("is_tree_present"), "true\n");
                Cmd("show_strategy r:0");
                if (std::string(field.what) == "level") {
                    EXPECT_EQ(Cmd("get_actual_compression"),
                              "compression " + std::to_string(static_cast<int32_t>(form)) + "\n");
                }
                continue;
            }
            ASSERT_EQ(reply.rfind("ERROR: load_tree ", 0), 0u) << reply;
            EXPECT_EQ(Cmd("is_tree_present"), "false\n");
            ASSERT_EQ(Cmd("load_tree " + good), "load_tree ok!\n");
        }
    }
    std::remove(path.c_str());
    std::remove(good.c_str());
}

TEST(SavedTree, DamagedFields) {
    const FieldFile files[] = {
        {&kRiver, 0, {3, false, false, 2}},
        {&kRiver, 0, {5, false, false, 0}},
        {&kRiver, 0, {6, false, true, 2}},
        {&kRiver, 0, {7, false, false, 1}},
    };
    for (const FieldFile& f : files) DamageEveryField(f);
}

// Flop loads are slow under the sanitizers.
TEST(LongSavedTree, DamagedFieldsOfForgottenFiles) {
    const FieldFile files[] = {{&kFlop, 3, {7, false, false, 1}}, {&kFlop, 2, {6, false, true, 2}}};
    for (const FieldFile& f : files) DamageEveryField(f);
}

}  // namespace

namespace {

// The values of a calc_ev reply (its first line), NaN left out.
std::vector<double> EvValues(const std::string& reply) {
    std::istringstream line(reply.substr(0, reply.find('\n')));
    std::vector<double> values;
    for (std::string word; line >> word;)
        if (word != "nan") values.push_back(std::stod(word));
    return values;
}

// A forgotten file with the omitted-rows flag: calc_ev prints 0 for every value it has, where the
// tree that was saved printed values.
TEST(SavedTree, OmittedRowsGiveZeroEvs) {
    const std::string path = TempPath();
    SetUpSpot(kFlop, 0, 5);
    saved_tree::SetThousandths(3);
    ASSERT_EQ(Cmd("forget rivers"), "forget ok!\n");
    const char* queries[] = {"calc_ev OOP r", "calc_ev IP r:0:c"};
    std::vector<std::vector<double>> saved;
    for (const char* query : queries) {
        saved.push_back(EvValues(Cmd(query)));
        ASSERT_FALSE(saved.back().empty()) << query;
        ASSERT_TRUE(std::any_of(saved.back().begin(), saved.back().end(), [](double v) {
            return v != 0.0;
        })) << query;
    }
    saved_tree::WriteFile(path, saved_tree::WriteSavedTree({7, true, false, 2}));
    ASSERT_EQ(Cmd("load_tree " + path), "load_tree ok!\n");
    for (size_t q = 0; q < saved.size(); ++q)
        EXPECT_EQ(EvValues(Cmd(queries[q])), std::vector<double>(saved[q].size(), 0.0))
            << queries[q];
    std::remove(path.c_str());
}

}  // namespace
