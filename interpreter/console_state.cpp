#include "interpreter/console_state.h"

int32_t Verbosity = 0;
bool EchoCommands = false;
bool ColorText = false;
std::chrono::system_clock::time_point ProgramStartTime{};
