// Checked number words: the standard conversions (see word_to_double in command_loop.h) that
// also refuse what no command can use. Failures throw std::invalid_argument or
// std::out_of_range, which the dispatcher replies to as "Invalid value".
#pragma once

#include <string>

// stod, refusing NaN and infinities (one NaN would spoil a whole solve); -0 reads as 0.
double word_to_finite(const std::string& word);

// A betting amount: word_to_finite, also refusing anything above 2^31 - 1, which would
// overflow the solver's 32-bit stack and action labels.
double word_to_amount(const std::string& word);
