#include "interpreter/line_commands.h"

#include "interpreter/line_set.h"
#include "utilities/output.h"

void cmd_add_line(CommandWords& words) {
    enter_line(line_set(), words, false);
    reply_ok(words);
}

void cmd_force_line(CommandWords& words) {
    enter_line(line_set(), words, true);
    reply_ok(words);
}

void cmd_remove_line(CommandWords& words) {
    remove_line(line_set(), words);
    reply_ok(words);
}

void cmd_clear_lines(CommandWords& words) {
    clear_line_set(line_set());
    reply_ok(words);
}
