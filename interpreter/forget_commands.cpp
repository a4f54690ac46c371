#include "interpreter/forget_commands.h"

#include "interpreter/node_commands.h"
#include "interpreter/node_path.h"
#include "solver/forgotten_streets.h"
#include "solver/solver_thread.h"
#include "solver/subgame_resolve.h"
#include "utilities/output.h"

namespace {

// The checks every command here makes before it changes anything.
void require_stopped_tree() {
    require_tree();
    if (libsubgame_solver_running()) throw_command_error("Can't do that when solver is running");
}

int32_t street_word(const CommandWords& words) {
    if (words[1] == "rivers") return 3;
    if (words[1] == "turns") return 2;
    throw_arg_error(words);
}

void check_street_result(int32_t result, const CommandWords& words) {
    switch (result) {
        case kStreetOk:
            return;
        case kStreetNoTree:
            throw_command_error("missing/incorrect tree");
        case kStreetSolverRunning:
            throw_command_error("Can't do that when solver is running");
        case kStreetNotBelowRoot:
            throw_command_error("street is not below the root");
        case kStreetTurnsForgotten:
            throw_command_error("turns already forgotten");
        case kStreetIncomplete:
            throw_command_error("incomplete tree");
        default:
            throw_arg_error(words);
    }
}

// Allowed while the solver runs: no street can be forgotten then (go refuses an incomplete tree,
// forget refuses a running solve), so there is nothing to re-solve and the library answers 0.
double solve_partial(const CommandWords& words) {
    const NodePath path = parse_node_path(words[1]);
    if (!is_decision_node(path)) throw_path_error();
    require_node_cards(path);
    return libsubgame_solve_partial(path.node->recordIndex, path.turn, path.river);
}

}  // namespace

void cmd_forget(CommandWords& words) {
    require_stopped_tree();
    check_street_result(libsubgame_forget_street(street_word(words)), words);
    reply_ok(words);
}

void cmd_rebuild_forgotten_streets(CommandWords& words) {
    require_stopped_tree();
    check_street_result(libsubgame_rebuild_forgotten_streets(), words);
    reply_ok(words);
}

void cmd_solve_all_splits(CommandWords& words) {
    require_stopped_tree();
    check_street_result(libsubgame_solve_all_splits(street_word(words)), words);
    reply_ok(words);
}

void cmd_solve_partial(CommandWords& words) {
    solve_partial(words);
    reply_ok(words);
}

void cmd_explo_partial(CommandWords& words) {
    out_printf("%.6g\n", solve_partial(words));
}
