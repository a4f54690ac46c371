// The solver's iteration log: one record per exploitability check of the running solve.
#pragma once

#include <cstdint>
#include <vector>

// One exploitability check. Copied to the interpreter as a plain array, so the field order and
// widths are shared with it. Values are in pot units, each player's value net of half the pot.
struct IterationLogRecord {
    int32_t iteration;  // the tree's iteration count at the check
    int32_t zero;       // always 0
    double seconds;     // wall time since the thread started (whole ms / 1000); 0 from calc_results
    double value0;      // player 0's value under the current strategies
    double value1;      // player 1's value
    double bestResponse0;   // player 0's best-response value
    double bestResponse1;   // player 1's best-response value
    double exploitability;  // ((bestResponse0 - value0) + (bestResponse1 - value1)) / 2
};
static_assert(sizeof(IterationLogRecord) == 56, "record layout is shared with the interpreter");

// All three take the iteration-log mutex; any thread.
void IterationLogClear();
void IterationLogAppend(const IterationLogRecord& record);
std::vector<IterationLogRecord> IterationLogSnapshot();

// A malloc'ed copy of the log and its record count, taken under the log mutex. Null with count 0
// when no solver thread exists; null with count unchanged when the allocation fails. The caller
// releases it with libsubgame_free.
IterationLogRecord* libsubgame_copy_iteration_log(uint32_t* count);

// Running time of the newest record (the last check of the current or last solve); 0 when the
// log is empty. The storage traffic rates of calc_results divide by it.
double libsubgame_last_check_seconds();
