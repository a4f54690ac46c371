// The command table: every command word with its handler and word count, searched linearly.
// Aliases are separate entries sharing one handler; a handler that acknowledges replies with the
// word as typed (words[0]).
#pragma once

#include <cstdint>

#include "interpreter/command_loop.h"

// A handler gets the line's words, command word first, and may change them.
using CommandHandler = void (*)(CommandWords& words);

// Word count meaning "any number of words": the handler checks its own arguments.
inline constexpr int32_t kAnyWords = -1;

struct CommandTableEntry {
    const char* word;        // command word, compared exactly (case-sensitive)
    CommandHandler handler;  // runs on the main thread
    int32_t wordCount;       // exact word count, command word included, or kAnyWords
};

// The entry for `word`, or null when no command has that word.
const CommandTableEntry* find_command(const char* word);

// The whole table, for tests: `count` receives the number of entries.
const CommandTableEntry* command_table(int* count);
