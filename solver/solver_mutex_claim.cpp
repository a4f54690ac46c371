#include "solver/solver_mutex_claim.h"

#include <atomic>
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
    while (WaitingClaims.load() > 0) std::this_thread::yield();
}
