#include "cards/dealt_cards.h"

#include <algorithm>

#include "cards/hand_set.h"
#include "utilities/services.h"

std::vector<DealtCard> DealtCardList(CardMask board, uint8_t isomorphism) {
    std::vector<DealtCard> list;
    int present = 4;
    if (isomorphism) {
        present = 0;
        while (present < 4 && SuitField(board, present)) ++present;
        for (int s = present; s < 4; ++s)
            if (SuitField(board, s)) fail_fatal("board not in canonical suits");
    }
    for (int suit = 0; suit < present; ++suit)
        for (int rank = 0; rank < 13; ++rank)
            if (!(board & CardBit(MakeCard(rank, suit)))) list.push_back({1, MakeCard(rank, suit)});
    if (present < 4)
        for (int rank = 0; rank < 13; ++rank)
            list.push_back({4 - present, MakeCard(rank, present)});

    int flushSuit = -1, most = 1;
    for (int s = 0; s < 4; ++s) {
        const int n = CardCount(SuitField(board, s));
        if (n > most) most = n, flushSuit = s;
    }
    auto key = [flushSuit](const DealtCard& d) {
        return (CardSuit(d.card) == flushSuit) * 64 + CardRank(d.card) * 4 + CardSuit(d.card);
    };
    std::stable_sort(list.begin(), list.end(),
                     [&](const DealtCard& a, const DealtCard& b) { return key(a) < key(b); });
    return list;
}

void EnumerateDealtCards(CardMask board, uint8_t isomorphism, SubgameRecord* record) {
    const std::vector<DealtCard> list = DealtCardList(board, isomorphism);
    record->rivers.reserve(record->rivers.size() + list.size());
    for (const DealtCard& d : list) {
        record->cardToRiver[d.card] = static_cast<uint16_t>(record->rivers.size());
        record->rivers.emplace_back(record->board | CardBit(d.card), d.card, d.weight);
    }
}
