// One river subtree of the turn spot of first_solve_spots.py (Td 9d 6h Qc, river 3s, pot 200,
// stack 900, the river betting after turn check-check): ns per river root of a regret-update
// walk for the scalar walk (simd 1) and simd levels 2, 4 and 8, with the spot's ranges and with
// full ranges (1,081 hands on the river), and the batched kernels' share of the root's time.
#include <benchmark/benchmark.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "cards/hand_set.h"
#include "interpreter/combo_order.h"
#include "interpreter/command_loop.h"
#include "interpreter/node_path.h"
#include "solver/river_simd.h"
#include "solver/runout_access.h"
#include "solver/solved_tree.h"
#include "solver/solver_settings.h"
#include "solver/traversal.h"
#include "solver/tree_storage.h"
#include "storage/row_kernels.h"
#include "storage/thread_array_pool.h"
#include "utilities/output.h"

namespace {

const char* const kRanks = "23456789TJQKA";
const char* const kOop = "66+,A8s+,A5s-A4s,AJo+,K9s+,KQo,QTs+,JTs,96s+,85s+,75s+,65s,54s";
const char* const kIp = "QQ-22,AQs-A2s,ATo+,K5s+,KJo+,Q8s+,J8s+,T7s+,96s+,86s+,75s+,64s+,53s+";

int Rank(char c) {
    return static_cast<int>(std::strchr(kRanks, c) - kRanks);
}

// Hand classes of the shorthand ("66+", "A8s+", "A5s-A4s", "QQ-22", "KQo") as the spot script.
std::set<std::string> Classes(const std::string& text) {
    std::set<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const size_t dash = item.find('-');
        if (dash != std::string::npos) {
            const std::string a = item.substr(0, dash), b = item.substr(dash + 1);
            if (a[0] == a[1]) {
                for (int r = Rank(b[0]); r <= Rank(a[0]); ++r)
                    out.insert(std::string(2, kRanks[r]));
            } else {
                for (int k = Rank(b[1]); k <= Rank(a[1]); ++k)
                    out.insert(std::string{a[0], kRanks[k], a[2]});
            }
        } else if (item.back() == '+') {
            if (item[0] == item[1]) {
                for (int r = Rank(item[0]); r < 13; ++r) out.insert(std::string(2, kRanks[r]));
            } else {
                for (int k = Rank(item[1]); k < Rank(item[0]); ++k)
                    out.insert(std::string{item[0], kRanks[k], item[2]});
            }
        } else {
            out.insert(item);
        }
    }
    return out;
}

// "set_range" weights in the canonical order (card hi then lo, 4 x rank + suit).
std::string RangeWords(const std::string& shorthand) {
    const std::set<std::string> wanted = Classes(shorthand);
    std::string words;
    for (int hi = 1; hi < 52; ++hi)
        for (int lo = 0; lo < hi; ++lo) {
            const int rh = hi / 4, rl = lo / 4;
            std::string name = rh == rl
                                   ? std::string(2, kRanks[rh])
                                   : std::string{kRanks[std::max(rh, rl)], kRanks[std::min(rh, rl)],
                                                 hi % 4 == lo % 4 ? 's' : 'o'};
            words += shorthand.empty() || wanted.count(name) ? " 1" : " 0";
        }
    return words;
}

// Cumulative amount sequences of the sizing rule: check or bet half the pot; against a bet fold,
// call or one raise of half the pot after the call, then fold or call; capped at the stack.
void Lines(std::vector<std::vector<double>>& out, std::vector<double> prefix, double level,
           int left) {
    const double pot0 = 200, stack = 900;
    if (left == 0 || level >= stack) {
        out.push_back(prefix);
        return;
    }
    const double pot = pot0 + 2 * level, bet = std::min(level + pot / 2, stack);
    const double raise = std::min(bet + (pot + 2 * (bet - level)) / 2, stack);
    std::vector<std::vector<double>> closing = {{level, level}, {bet, bet}, {level, bet, bet}};
    if (raise > bet) {
        closing.push_back({bet, raise, raise});
        closing.push_back({level, bet, raise, raise});
    }
    for (const auto& seq : closing) {
        std::vector<double> next = prefix;
        next.insert(next.end(), seq.begin(), seq.end());
        Lines(out, next, seq.back(), left - 1);
    }
}

void Run(const std::string& line) {
    CommandWords words = split_words(line);
    dispatch_command(words);
    clear_output_buffer();
}

struct RiverRoot {
    TraversalContext ctx;
    PooledArray reach;  // the opponent's range on the river record
};

// Builds the turn spot and returns the river root after turn check-check for river 3s, with
// the IP range as the opponent's reach of OOP's traversal.
RiverRoot Prepare(bool fullRanges) {
    static bool once = [] {
        InitHandEvalTables();
        libsubgame_init(0);
        build_combo_tables();
        return true;
    }();
    (void)once;
    Run("set_threads 1");
    Run("set_board Td 9d 6h Qc");
    Run("set_pot 0 0 200");
    Run("set_eff_stack 900");
    Run("set_range OOP" + RangeWords(fullRanges ? "" : kOop));
    Run("set_range IP" + RangeWords(fullRanges ? "" : kIp));
    Run("clear_lines");
    std::vector<std::vector<double>> lines;
    Lines(lines, {}, 0.0, 2);
    for (const auto& seq : lines) {
        std::string line = "add_line";
        for (double a : seq) {
            line += ' ';
            line += std::to_string(static_cast<int>(a));
        }
        Run(line);
    }
    Run("set_compression 0");
    Run("build_tree");
    SolvedTree* tree = g_solvedTree;
    CheckTreeStorageReady(tree);
    EnsureThreadPool(*tree->hands);
    const NodePath path = parse_node_path("r:0:c:c:3s");
    RiverRoot root;
    root.ctx.tree = tree;
    root.ctx.node = &tree->nodes[path.node->recordIndex];
    CardMask turnCard = 0;
    ParseCards(&turnCard, "Qc");
    MapRunoutCards(tree, LowestCard(turnCard), path.river, &root.ctx.turn, &root.ctx.river);
    PooledArray rootReach;
    const std::vector<float>& ip = tree->rootRows[1];
    ConstructPooledArray(&rootReach, static_cast<int32_t>(ip.size()), false, false);
    std::memcpy(rootReach.data, ip.data(), sizeof(float) * ip.size());
    GatherRowToRecord(tree->hands->records[root.ctx.turn].rivers[root.ctx.river], &root.reach,
                      &rootReach);
    ReleasePooledArray(&rootReach);
    return root;
}

int64_t KernelNanos = 0, RootNanos = 0;
void Measure(const RiverRootReport& r) {
    if (!r.finished) return;
    KernelNanos += r.kernelNanoseconds;
    RootNanos += r.nanoseconds;
}

// Arguments: simd level (1: the scalar walk), full ranges (0 or 1).
void BM_RiverRoot(benchmark::State& state) {
    RiverRoot root = Prepare(state.range(1) != 0);
    SolvedTree* tree = root.ctx.tree;
    tree->traverser = 0;
    tree->mode = kModeUpdate;
    tree->pass = kPassRunJobs;
    tree->simdLevel = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        TraversalContext ctx = root.ctx;
        ResizePooledArray(&ctx.opponentReach, root.reach.count, true);
        std::memcpy(ctx.opponentReach.data, root.reach.data, sizeof(float) * root.reach.count);
        TraverseNode(&ctx);
        benchmark::DoNotOptimize(ctx.value.data);
        ReleaseFourRows(&ctx);
    }
    state.counters["hands"] = root.reach.count;
    if (state.range(0) > 1) {
        KernelNanos = RootNanos = 0;
        SetRiverRootObserver(Measure);
        for (int i = 0; i < 200; ++i) {
            TraversalContext ctx = root.ctx;
            ResizePooledArray(&ctx.opponentReach, root.reach.count, true);
            std::memcpy(ctx.opponentReach.data, root.reach.data, sizeof(float) * root.reach.count);
            TraverseNode(&ctx);
            ReleaseFourRows(&ctx);
        }
        SetRiverRootObserver(nullptr);
        state.counters["kernel_share"] = double(KernelNanos) / double(RootNanos);
    }
    ReleasePooledArray(&root.reach);
}
BENCHMARK(BM_RiverRoot)
    ->ArgNames({"simd", "full"})
    ->ArgsProduct({{1, 2, 4, 8}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
