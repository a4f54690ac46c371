#include "interpreter/number_words.h"

#include <cmath>
#include <stdexcept>

double word_to_finite(const std::string& word) {
    const double value = std::stod(word);
    if (!std::isfinite(value)) throw std::invalid_argument("non-finite number");
    // "-0" means 0; kept negative it would print as "-0" in amounts and reports.
    return value + 0.0;
}

double word_to_amount(const std::string& word) {
    const double value = word_to_finite(word);
    if (value > 2147483647.0) throw std::invalid_argument("amount out of range");
    return value;
}
