// Fair hand-over of the solver mutex: the solver thread releases it between two one-player
// traversals and would otherwise take it straight back, so a query or edit waiting on the main
// thread could wait for many traversals. A claim makes the solver thread step aside.
#pragma once

// Holds the solver mutex for its lifetime. While a claim waits for the mutex, the solver thread
// does not take it again (see YieldSolverMutexToClaims). Nests on one thread (the mutex is
// recursive).
class SolverMutexClaim {
public:
    SolverMutexClaim();
    ~SolverMutexClaim();
    SolverMutexClaim(const SolverMutexClaim&) = delete;
    SolverMutexClaim& operator=(const SolverMutexClaim&) = delete;
};

// The solver thread calls this before it takes the solver mutex for a traversal: it returns once
// no claim is waiting (or after 50 ms, so a caller already holding the mutex cannot deadlock),
// so a waiting query or edit runs after about one traversal.
void YieldSolverMutexToClaims();
