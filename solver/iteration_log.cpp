#include "solver/iteration_log.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "solver/solver_thread.h"

namespace {

std::mutex LogMutex;
std::vector<IterationLogRecord> Log;  // guarded by LogMutex

}  // namespace

void IterationLogClear() {
    std::lock_guard<std::mutex> lock(LogMutex);
    Log.clear();
}

void IterationLogAppend(const IterationLogRecord& record) {
    std::lock_guard<std::mutex> lock(LogMutex);
    Log.push_back(record);
}

std::vector<IterationLogRecord> IterationLogSnapshot() {
    std::lock_guard<std::mutex> lock(LogMutex);
    return Log;
}

IterationLogRecord* libsubgame_copy_iteration_log(uint32_t* count) {
    if (!libsubgame_solver_running()) {
        *count = 0;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(LogMutex);
    // malloc(0) may give null; one spare record keeps "null" meaning only failure.
    void* copy = std::malloc((Log.size() + 1) * sizeof(IterationLogRecord));
    if (!copy) return nullptr;
    if (!Log.empty()) std::memcpy(copy, Log.data(), Log.size() * sizeof(IterationLogRecord));
    *count = static_cast<uint32_t>(Log.size());
    return static_cast<IterationLogRecord*>(copy);
}

double libsubgame_last_check_seconds() {
    std::lock_guard<std::mutex> lock(LogMutex);
    return Log.empty() ? 0.0 : Log.back().seconds;
}
