#include "interpreter/number_words.h"

#include <cmath>
#include <stdexcept>

int word_to_int(const std::string& word) {
    return std::stoi(word);
}

double word_to_double(const std::string& word) {
    const double value = std::stod(word);
    if (!std::isfinite(value)) throw std::invalid_argument("non-finite number");
    return value;
}

double word_to_amount(const std::string& word) {
    const double value = word_to_double(word);
    if (value > 2147483647.0) throw std::invalid_argument("amount out of range");
    return value;
}
