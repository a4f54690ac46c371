#include "cards/canonical_suits.h"

#include "utilities/services.h"

void CanonicalSuitMap(uint8_t map[4], CardMask flop, CardMask turn, CardMask river) {
    if (CardCount(flop) != 3) fail_fatal("canonical suit map needs three flop cards");
    int count[4];
    int present = 0;
    for (int s = 0; s < 4; ++s) {
        map[s] = 0xFF;
        count[s] = CardCount(SuitField(flop, s));
        present += count[s] > 0;
    }
    uint8_t next = 0;
    if (present == 3) {
        for (CardMask m = flop; m; m &= m - 1) map[CardSuit(LowestCard(m))] = next++;
    } else {
        // One or two suits: the suit with more cards first; ties go to the lower suit.
        while (next < present) {
            int best = -1;
            for (int s = 0; s < 4; ++s)
                if (map[s] == 0xFF && count[s] > 0 && (best < 0 || count[s] > count[best]))
                    best = s;
            map[best] = next++;
        }
    }
    for (CardMask dealt : {turn, river}) {
        if (!dealt) continue;
        const int s = CardSuit(LowestCard(dealt));
        if (map[s] == 0xFF) map[s] = next++;
    }
    for (int s = 0; s < 4; ++s)
        if (map[s] == 0xFF) map[s] = next++;
}

void CanonicalizeBoard(uint8_t map[4], CardMask* flop, CardMask* turn, CardMask* river) {
    CanonicalSuitMap(map, *flop, *turn, *river);
    for (CardMask* mask : {flop, turn, river})
        if (*mask) *mask = PermuteSuits(*mask, map);
}

void MapComboValuesToBoardSuits(CardMask flop, CardMask turn, CardMask river, double* values,
                                const float* canonical) {
    uint8_t map[4];
    CanonicalSuitMap(map, flop, turn, river);
    for (int combo = 0; combo < kComboCount; ++combo)
        values[combo] = canonical[ComboIndex(PermuteSuits(ComboMask(combo), map))];
}
