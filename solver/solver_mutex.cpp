#include "solver/solver_mutex.h"

std::recursive_mutex& SolverMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
