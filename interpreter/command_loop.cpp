#include "interpreter/command_loop.h"

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>

#include "interpreter/command_table.h"
#include "interpreter/console_state.h"
#include "solver/solver_thread.h"
#include "utilities/output.h"

namespace {
std::string SkipLabel;  // main thread only
}  // namespace

bool read_line(std::FILE* in, std::string& line) {
    line.clear();
    bool took = false;
    for (;;) {
        const int c = std::getc(in);
        if (c == EOF) return took;
        took = true;
        if (c == '\n') return true;
        if (c == '\r') {
            const int next = std::getc(in);
            if (next != '\n' && next != EOF) std::ungetc(next, in);
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
}

CommandWords split_words(const std::string& line) {
    CommandWords words;
    std::string current;
    bool quoting = false;
    auto end_word = [&] {
        if (!current.empty()) words.push_back(current);
        current.clear();
        quoting = false;
    };
    for (const char c : line) {
        if (quoting) {
            if (c == '"')
                end_word();
            else
                current.push_back(c);
        } else if (c == ' ') {
            end_word();
        } else if (c == '"') {
            quoting = true;
        } else {
            current.push_back(c);
        }
    }
    end_word();
    return words;
}

namespace {

// Echo goes straight to standard output, ahead of the buffered replies of the same line, in one
// write so that a solver line never lands inside it.
void echo_words(const CommandWords& words) {
    std::string line = ColorText ? "\033[0;32m" : "";
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) line += ' ';
        line += words[i];
    }
    line += '\n';
    if (ColorText) line += "\033[0m";
    write_whole(line);
}

}  // namespace

void dispatch_command(CommandWords& words) {
    begin_command_output();
    if (EchoCommands) echo_words(words);
    if (words.size() >= 2 && words[0] == "LABEL:") {
        if (words[1] == SkipLabel) SkipLabel.clear();
        return;
    }
    if (!SkipLabel.empty()) return;
    if (words.empty()) return;
    if (words[0][0] == '#') return;
    if (words[0] == "exit") exit_program(0);

    // The comparison is of whole words: a word with a NUL byte must not match its prefix.
    const CommandTableEntry* entry =
        words[0].find('\0') == std::string::npos ? find_command(words[0].c_str()) : nullptr;
    if (!entry) {
        out_printf("ERROR: Command %s not recognized\n", words[0].c_str());
        return;
    }
    try {
        if (entry->wordCount > 0) check_word_count(words, entry->wordCount);
        set_current_command_word(words[0]);
        entry->handler(words);
    } catch (const std::invalid_argument&) {
        out_printf("Invalid value\n");
    } catch (const std::out_of_range&) {
        out_printf("Invalid value\n");
    } catch (const std::runtime_error& error) {
        out_printf("%s", error.what());
    } catch (const char* text) {
        out_printf("#exception: %s\n", text);
        std::fflush(stdout);
        throw;
    }
}

void run_command_line(const std::string& line) {
    if (line.empty()) return;
    CommandWords words = split_words(line);
    dispatch_command(words);
    flush_output();
    std::fflush(stdout);
}

void check_word_count(const CommandWords& words, int count) {
    if (static_cast<int>(words.size()) != count) throw_arg_error(words);
}

const std::string& skip_label() {
    return SkipLabel;
}

void set_skip_label(const std::string& label) {
    SkipLabel = label;
}

void prepare_process_exit() {
    // Static destructors must never run under the solver thread: stop it and join it first.
    libsubgame_finish_solver();
}

void exit_program(int status) {
    prepare_process_exit();
    std::fflush(stdout);
    std::exit(status);
}

int run_to_orderly_end(int (*body)(const void* context), const void* context) {
    try {
        return body(context);
    } catch (const char*) {
        // The dispatcher has already noted it as an "#exception" line.
        flush_output();
    } catch (const std::exception& error) {
        flush_output();
        std::printf("fail (%s)\n", error.what());
    } catch (...) {
        flush_output();
        std::printf("fail\n");
    }
    std::fflush(stdout);
    exit_program(1);
}

bool file_exists(const std::string& path) {
    // No file name holds a NUL byte; the system would read only the part before it.
    if (path.find('\0') != std::string::npos) return false;
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

int word_to_int(const std::string& word) {
    return std::stoi(word);
}

double word_to_double(const std::string& word) {
    return std::stod(word);
}
