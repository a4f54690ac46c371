#include "interpreter/command_table.h"

#include <cstring>

#include "interpreter/combo_order.h"
#include "interpreter/script_commands.h"

namespace {

// One line per command word; groups follow the command families.
const CommandTableEntry CommandTable[] = {
    // Command loop and scripts
    {"is_ready", cmd_is_ready, 1},
    {"solver_time", cmd_solver_time, 1},
    {"skip_if_done", cmd_skip_if_done, 3},
    {"load_script", cmd_load_script, 2},

    // Combination order
    {"show_hand_order", cmd_show_hand_order, 1},
};

constexpr int kCommandCount = sizeof CommandTable / sizeof CommandTable[0];

}  // namespace

const CommandTableEntry* find_command(const char* word) {
    for (const CommandTableEntry& entry : CommandTable)
        if (std::strcmp(entry.word, word) == 0) return &entry;
    return nullptr;
}

const CommandTableEntry* command_table(int* count) {
    *count = kCommandCount;
    return CommandTable;
}
