#include "interpreter/tree_state.h"

bool TreePresent = false;
int32_t StartStreet = 0;
std::array<CardMask, 3> TreeBoardMasks{};
double TreePot = 0.0;
std::array<std::vector<double>, 2> TreeRanges;
int32_t EffectiveStack = 0;
bool LinesEditedSinceBuild = false;

int32_t lowest_card(CardMask mask) {
    return mask == 0 ? -1 : __builtin_ctzll(mask);
}
