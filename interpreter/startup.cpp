#include "interpreter/startup.h"

#include <tclap/CmdLine.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cards/hand_evaluator.h"
#include "interpreter/combo_order.h"
#include "interpreter/command_loop.h"
#include "interpreter/console_state.h"
#include "interpreter/result_summary.h"
#include "solver/solver_settings.h"
#include "solver/solver_thread.h"
#include "utilities/output.h"

namespace {

struct StartOptions {
    std::string scriptPath;
    std::vector<std::string> commands;
};

// Returns false (status in *status) when an argument error escapes the parser. The parser itself
// reports rejected options, help and version, and ends the process.
bool parse_options(int argc, char** argv, StartOptions* options, int* status) {
    try {
        TCLAP::CmdLine parser("", ' ', kVersionText, true);
        // Accepted for compatibility with front ends; never read.
        TCLAP::SwitchArg server("s", "server", "run as a server", parser, false);
        TCLAP::ValueArg<int> port("p", "port", "server port (default 5251)", false, 5251, "port",
                                  parser);
        TCLAP::SwitchArg exitAfter("e", "exit", "exit after client disconnects", parser, false);
        TCLAP::SwitchArg verbose("v", "verbose", "show debug information", parser, false);
        TCLAP::SwitchArg echo("o", "echo", "echo commands", parser, false);
        TCLAP::SwitchArg color("r", "color", "color text", parser, false);
        TCLAP::MultiArg<std::string> cmd("c", "cmd", "execute command", false, "command", parser);
        TCLAP::UnlabeledValueArg<std::string> filename("filename", "script to load", false, "",
                                                       "script.txt", parser);
        parser.parse(argc, argv);

        if (filename.isSet()) options->scriptPath = filename.getValue();
        Verbosity = verbose.getValue() ? 1 : 0;
        EchoCommands = echo.getValue();
        ColorText = color.getValue();
        options->commands = cmd.getValue();
    } catch (const TCLAP::ArgException& error) {
        std::fprintf(stderr, "error: %s for arg %s\n", error.error().c_str(),
                     error.argId().c_str());
        *status = 1;
        return false;
    }
    return true;
}

int run_sources(const StartOptions& options) {
    if (!options.commands.empty()) {
        for (const std::string& command : options.commands) {
            CommandWords words = split_words(command);
            dispatch_command(words);
        }
        flush_output();
        std::fflush(stdout);
    }

    if (!options.scriptPath.empty()) {
        if (!file_exists(options.scriptPath)) {
            std::printf("ERROR: can't find file '%s'\n", options.scriptPath.c_str());
            std::fflush(stdout);
            return 1;
        }
        CommandWords words = split_words("load_script \"" + options.scriptPath + "\"");
        dispatch_command(words);
        flush_output();
        std::fflush(stdout);
    }

    std::string line;
    while (read_line(stdin, line)) run_command_line(line);
    return 0;
}

}  // namespace

void print_banner() {
    if (ColorText) std::printf("\033[0;%dm", 36);
    std::printf("nlhe-solver %s - heads-up no-limit hold'em postflop solver\n", kVersionText);
    if (Verbosity > 0) std::printf("[verbosity %d]\n", Verbosity);
    std::fflush(stdout);
    if (ColorText) std::printf("\033[0m");
}

int run_interpreter(int argc, char** argv) {
    StartOptions options;
    int status = 0;
    if (!parse_options(argc, argv, &options, &status)) return status;

    InitHandEvalTables();
    libsubgame_init(0);
    libsubgame_set_progress_report(report_progress);
    ProgramStartTime = std::chrono::system_clock::now();
    print_banner();
    build_combo_tables();

    status = run_to_orderly_end(
        [](const void* context) { return run_sources(*static_cast<const StartOptions*>(context)); },
        &options);
    prepare_process_exit();
    std::fflush(stdout);
    return status;
}
