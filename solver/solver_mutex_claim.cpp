#include "solver/solver_mutex_claim.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "solver/solver_mutex.h"

namespace {

std::atomic<int> WaitingClaims{0};

}  // namespace

SolverMutexClaim::SolverMutexClaim() {
    WaitingClaims.fetch_add(1);
    SolverMutex().lock();
    WaitingClaims.fetch_sub(1);
}

SolverMutexClaim::~SolverMutexClaim() {
    SolverMutex().unlock();
}

void YieldSolverMutexToClaims() {
    // Bounded: a caller that already holds the mutex (an outer lock of its own) must not wait for
    // a claim that waits for it.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (WaitingClaims.load() > 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
}
