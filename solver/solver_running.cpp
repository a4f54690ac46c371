#include "solver/solver_running.h"

bool TreeSolverRunning() { return false; }
