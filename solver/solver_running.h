// The one test the tree-changing entry points and commands make before touching the tree.
#pragma once

// True while a solve runs on the solver thread. No command starts a solve yet, so this answers
// false; it becomes the solver thread's own test once solves can be started.
bool TreeSolverRunning();
