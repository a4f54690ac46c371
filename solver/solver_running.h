// The one test the tree-changing entry points and commands make before touching the tree.
#pragma once

// True while a solver thread exists.
bool TreeSolverRunning();
