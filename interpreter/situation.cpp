#include "interpreter/situation.h"

#include "interpreter/console_state.h"
#include "interpreter/number_words.h"
#include "solver/solver_settings.h"
#include "utilities/output.h"

std::array<ComboRange, 2> PlayerRanges;
std::array<CardMask, 3> BoardMasks{};
std::array<double, 3> PotValues{0.0, 0.0, 100.0};
double AccuracySetting = 0.0;
bool AccuracyIsFraction = false;
std::array<uint8_t, 4> IsomorphismByStreet{1, 1, 0, 0};
int32_t SchedulerMode = 1;

int parse_player(const std::string& word) {
    if (word == "OOP" || word == "hero") return 0;
    if (word == "IP" || word == "villain") return 1;
    throw_command_error("incorrect player name");
}

void parse_combo_values(std::vector<double>& result, const CommandWords& words, size_t first) {
    result.clear();
    result.reserve(words.size() > first ? words.size() - first : 0);
    for (size_t i = first; i < words.size(); ++i) result.push_back(word_to_finite(words[i]));
}

void apply_accuracy() {
    const double pot = PotValues[2];
    const double target = AccuracyIsFraction ? AccuracySetting * pot : AccuracySetting;
    libsubgame_set_target_accuracy(target);
    if (Verbosity >= 1) {
        const double fraction = AccuracyIsFraction ? AccuracySetting : AccuracySetting / pot;
        out_printf("[accuracy %.6g (%.6g fraction)]\n", target, fraction);
    }
}
