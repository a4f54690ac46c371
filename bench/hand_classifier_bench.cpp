// show_categories' work per board: both category arrays and the printed text, on a flop, a turn
// and a river (time per board).
#include <benchmark/benchmark.h>

#include "cards/hand_classifier.h"
#include "cards/hand_evaluator.h"

namespace {

void BM_ShowCategories(benchmark::State& state) {
    InitHandEvalTables();
    const char* boards[] = {"Ah9h4c", "Ah9h4c7d", "Ah9h4c7d2s"};
    CardMask cards = 0;
    ParseCards(&cards, boards[state.range(0) - 3]);
    const ClassifierBoard board = ClassifierBoardFromMask(cards);
    for (auto _ : state) benchmark::DoNotOptimize(CategoriesText(board));
    state.SetLabel(boards[state.range(0) - 3]);
}
BENCHMARK(BM_ShowCategories)->DenseRange(3, 5)->Unit(benchmark::kMicrosecond);

}  // namespace
