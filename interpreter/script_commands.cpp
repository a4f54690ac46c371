#include "interpreter/script_commands.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "interpreter/console_state.h"
#include "utilities/output.h"

namespace {
int ScriptDepth = 0;  // scripts being run, main thread only
}  // namespace

void cmd_is_ready(CommandWords& words) {
    reply_ok(words);
}

void cmd_solver_time(CommandWords& words) {
    const auto elapsed = std::chrono::system_clock::now() - ProgramStartTime;
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed);
    out_printf("%f\n", static_cast<double>(nanoseconds.count()) / 1000000000.0);
}

void cmd_skip_if_done(CommandWords& words) {
    if (file_exists(words[1])) set_skip_label(words[2]);
    reply_ok(words);
}

void cmd_load_script(CommandWords& words) {
    const std::string path = words[1];
    if (Verbosity > 0) out_printf("[load_script %s]\n", path.c_str());
    // A script that loads itself would otherwise recurse until the stack runs out.
    if (ScriptDepth >= kMaxScriptNesting) throw_command_error("nesting too deep");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        path.find('\0') == std::string::npos ? std::fopen(path.c_str(), "rb") : nullptr,
        std::fclose);
    // A directory opens but reads nothing: that would silently run an empty script.
    struct stat status;
    if (!file || ::fstat(::fileno(file.get()), &status) != 0 || S_ISDIR(status.st_mode)) {
        throw_command_error("can't open file");
    }

    struct DepthGuard {
        DepthGuard() { ++ScriptDepth; }
        ~DepthGuard() { --ScriptDepth; }
    } guard;
    std::string line;
    while (read_line(file.get(), line)) run_command_line(line);
}
