// Number words of command arguments, read like the standard conversions: the leading number of
// the word counts and the rest is ignored. Failures throw std::invalid_argument or
// std::out_of_range, which the dispatcher replies to as "Invalid value".
#pragma once

#include <string>

// stoi: base 10, optional blanks and sign.
int word_to_int(const std::string& word);

// stod, refusing NaN and infinities (one NaN would spoil a whole solve) with
// std::invalid_argument.
double word_to_double(const std::string& word);

// A betting amount: word_to_double, also refusing anything above 2^31 - 1, which would
// overflow the solver's 32-bit stack and action labels.
double word_to_amount(const std::string& word);
