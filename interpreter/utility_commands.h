// Commands that do not touch the poker situation: writing text back, redirecting standard
// output, the CPU report and the list of command words.
#pragma once

#include "interpreter/command_loop.h"

// echo <word>: the word as a line of its own, verbatim ('#' words dropped like '#' lines).
void cmd_echo(CommandWords& words);
// repeat <n> <words...>: words 2 onward joined by single blanks, n times (1..99999), then "END".
void cmd_repeat(CommandWords& words);
// stdoutredi <file> / stdoutredi_append <file>: later output goes to the file (truncated /
// appended to), the reply included; "can't open file" leaves standard output as it was.
void cmd_stdoutredi(CommandWords& words);
void cmd_stdoutredi_append(CommandWords& words);
// stdoutback: output goes back to the process's original standard output, the reply included.
void cmd_stdoutback(CommandWords& words);
// show_cpu_info: the CPU report, then "END".
void cmd_show_cpu_info(CommandWords& words);
// help: the command words of the table without the "qx7_" forms, in byte order, then "END".
void cmd_help(CommandWords& words);
