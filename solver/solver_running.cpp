#include "solver/solver_running.h"

#include "solver/solver_thread.h"

bool TreeSolverRunning() { return libsubgame_solver_running() != 0; }
