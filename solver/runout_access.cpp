#include "solver/runout_access.h"

#include "cards/canonical_suits.h"
#include "cards/hand_set.h"
#include "solver/solved_tree.h"

namespace {

bool ValidCard(int32_t card) {
    return card >= 0 && card < kCardCount;
}

}  // namespace

void MapRunoutCards(const SolvedTree* tree, int32_t turnCard, int32_t riverCard, int32_t* turn,
                    int32_t* river) {
    *turn = -1;
    *river = -1;
    if (tree == nullptr || tree->hands == nullptr) return;
    if (!ValidCard(turnCard)) turnCard = -1;
    if (!ValidCard(riverCard)) riverCard = -1;
    if ((tree->flags & kTreeIsomorphism) != 0) {
        uint8_t map[4];
        CanonicalSuitMap(map, tree->board, turnCard >= 0 ? CardBit(turnCard) : 0,
                         riverCard >= 0 ? CardBit(riverCard) : 0);
        if (turnCard >= 0) turnCard = MakeCard(CardRank(turnCard), map[CardSuit(turnCard)]);
        if (riverCard >= 0) riverCard = MakeCard(CardRank(riverCard), map[CardSuit(riverCard)]);
    }
    if (turnCard < 0) return;
    *turn = static_cast<int16_t>(tree->hands->cardToRecord[turnCard]);
    if (*turn < 0 || riverCard < 0) return;
    *river = static_cast<int16_t>(tree->hands->records[*turn].cardToRiver[riverCard]);
}
