// The program's command loop for bench scripts that need the re-solves' counts: reads commands
// from standard input and runs each as the program does, then prints
// "@probe <re-solves> <re-solve iterations>" (both counted since the start) and flushes, so a
// script can tell what each query re-solved and mark the end of its reply.
#include <xmmintrin.h>

#include <cstdio>
#include <string>

#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/command_loop.h"
#include "solver/forgotten_streets.h"
#include "solver/solver_settings.h"

int main() {
    _mm_setcsr(_mm_getcsr() | 0x8000 | 0x0040);
    InitHandEvalTables();
    libsubgame_init(0);
    build_combo_tables();
    for (std::string line; read_line(stdin, line);) {
        run_command_line(line);
        std::printf("@probe %llu %llu\n", static_cast<unsigned long long>(ResolveCount()),
                    static_cast<unsigned long long>(ResolveIterationCount()));
        std::fflush(stdout);
    }
    prepare_process_exit();
    return 0;
}
