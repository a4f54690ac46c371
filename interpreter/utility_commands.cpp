#include "interpreter/utility_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "interpreter/command_table.h"
#include "utilities/cpu_report.h"
#include "utilities/output.h"

namespace {

// repeat writes its copies out in parts past this size, so a long line repeated 99999 times
// never has to sit in memory whole.
constexpr size_t kRepeatFlushBytes = size_t{1} << 24;

void redirect(CommandWords& words, bool append) {
    if (!redirect_stdout(words[1], append)) throw_command_error("can't open file");
    reply_ok(words);
}

}  // namespace

void cmd_echo(CommandWords& words) {
    if (words.size() < 2) throw_arg_error(words);
    out_text(words[1] + "\n");
}

void cmd_repeat(CommandWords& words) {
    if (words.size() < 3) throw_arg_error(words);
    const int count = word_to_int(words[1]);
    if (count < 1 || count > 99999) throw_arg_error(words);
    std::string text = words[2];
    for (size_t i = 3; i < words.size(); ++i) text += " " + words[i];
    text += "\n";
    for (int i = 0; i < count; ++i) {
        out_text(text);
        if (output_buffer().size() >= kRepeatFlushBytes) {
            const bool show = show_hash_lines();
            flush_output();
            std::fflush(stdout);
            set_show_hash_lines(show);
        }
    }
    out_printf("END\n");
}

void cmd_stdoutredi(CommandWords& words) {
    redirect(words, false);
}

void cmd_stdoutredi_append(CommandWords& words) {
    redirect(words, true);
}

void cmd_stdoutback(CommandWords& words) {
    if (!restore_stdout()) throw_command_error("can't restore standard output");
    reply_ok(words);
}

void cmd_show_cpu_info(CommandWords& words) {
    print_cpu_info();
    out_printf("END\n");
}

void cmd_help(CommandWords& words) {
    int count = 0;
    const CommandTableEntry* table = command_table(&count);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        if (std::strncmp(table[i].word, "qx7_", 4) != 0) names.push_back(table[i].word);
    std::stable_sort(names.begin(), names.end());
    for (const std::string& name : names) out_printf("%s\n", name.c_str());
    out_printf("END\n");
}
