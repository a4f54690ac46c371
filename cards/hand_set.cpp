#include "cards/hand_set.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "cards/dealt_cards.h"
#include "cards/hand_evaluator.h"
#include "utilities/services.h"

namespace {

template <typename T>
size_t VectorBytes(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

size_t MapBytes(const std::vector<std::vector<uint16_t>>& maps) {
    size_t bytes = VectorBytes(maps);
    for (const auto& m : maps) bytes += VectorBytes(m);
    return bytes;
}

// Every sum of up to 1326 of these weights is exact in double when the positive ones span at
// most 18 binary orders: each is a multiple of 2^(lo - 24) (24-bit significands, subnormals
// included) and any sum stays below 2^(hi + 11), so it needs at most 53 bits.
bool SumsAreExact(const std::vector<float>& weights) {
    int lo = 1000, hi = -1000;
    for (float w : weights) {
        if (!(w > 0)) continue;
        if (!std::isfinite(w)) return false;
        int e = 0;
        std::frexp(w, &e);
        lo = std::min(lo, e);
        hi = std::max(hi, e);
    }
    return weights.size() <= 2048 && hi - lo <= 18;
}

int LowCard(CardMask hand) {
    return __builtin_ctzll(hand);
}
int HighCard(CardMask hand) {
    return 63 - __builtin_clzll(hand);
}

// Number of suits on a canonical board; they must be suits 0..p-1.
int CanonicalSuitCount(CardMask board) {
    int present = 0;
    while (present < 4 && SuitField(board, present)) ++present;
    for (int s = present; s < 4; ++s)
        if (SuitField(board, s)) fail_fatal("board not in canonical suits");
    return present;
}

void AppendCards(std::string* line, CardMask cards) {
    for (; cards; cards &= cards - 1) {
        const int c = LowestCard(cards);
        *line += kRankChars[CardRank(c)];
        *line += kSuitChars[CardSuit(c)];
        *line += ' ';
    }
}

// One printf per line so lines from the four SetHoles threads never mix inside a line.
void PrintIsomorphError(CardMask board, CardMask hand, CardMask exchanged) {
    std::string line = "isomorph error: ";
    AppendCards(&line, board);
    line += " | ";
    AppendCards(&line, hand);
    line += " | ";
    AppendCards(&line, exchanged);
    line += '\n';
    std::printf("%s", line.c_str());
}

void FillPositions(uint16_t* index, std::vector<CardPair>* pairs,
                   const std::vector<CardMask>& hands) {
    std::fill(index, index + kComboCount, kNoPosition);
    pairs->resize(hands.size());
    for (size_t i = 0; i < hands.size(); ++i) {
        index[ComboIndex(hands[i])] = static_cast<uint16_t>(i);
        (*pairs)[i] = MakeCardPair(hands[i]);
    }
}

}  // namespace

RiverRecord::RiverRecord(CardMask board_, int32_t card_, int32_t weight_)
    : board(board_), card(card_), weight(weight_), maps(weight_) {
    std::fill(index, index + kComboCount, kNoPosition);
}

SubgameRecord::SubgameRecord(const HandSet* owner, int32_t card_, int32_t weight_, int32_t river,
                             uint8_t isomorphism)
    : board(owner->board | CardBit(card_)), card(card_), weight(weight_), maps(weight_) {
    std::fill(index, index + kComboCount, kNoPosition);
    std::fill(cardToRiver, cardToRiver + kCardCount, kNoPosition);
    if (river < 0) {
        EnumerateDealtCards(board, isomorphism, this);
    } else {
        cardToRiver[river] = 0;
        rivers.emplace_back(board | CardBit(river), river, 1);
    }
}

HandSet::HandSet(const CardMask* flop, int32_t turn, int32_t river, uint8_t isomorphism)
    : board(*flop) {
    std::fill(index, index + kComboCount, kNoPosition);
    std::fill(cardToRecord, cardToRecord + kCardCount, kNoPosition);
    auto add = [&](int card, int weight, int riverCard) {
        cardToRecord[card] = static_cast<uint16_t>(records.size());
        records.emplace_back(this, card, weight, riverCard, isomorphism);
    };
    if (turn >= 0) {
        add(turn, 1, river);
        return;
    }
    records.reserve(kCardCount - 3);
    const int present = isomorphism ? CanonicalSuitCount(board) : 4;
    for (int c = 0; c < 13 * present; ++c)
        if (!(board & CardBit(c))) add(c, 1, -1);
    if (present < 4)
        for (int rank = 0; rank < 13; ++rank) add(MakeCard(rank, present), 4 - present, -1);
}

size_t HandSet::bytesHeld() const {
    size_t bytes = sizeof(HandSet) + VectorBytes(hands) + VectorBytes(pairs) +
                   VectorBytes(records) + VectorBytes(recordHandCounts) +
                   VectorBytes(riverHandCounts);
    for (const auto& counts : riverHandCounts) bytes += VectorBytes(counts);
    for (const SubgameRecord& r : records) {
        bytes += VectorBytes(r.hands) + VectorBytes(r.pairs) + VectorBytes(r.strengths) +
                 MapBytes(r.maps) + VectorBytes(r.rivers) + VectorBytes(r.riverHandCounts);
        for (const RiverRecord& c : r.rivers)
            bytes += VectorBytes(c.hands) + VectorBytes(c.pairs) + VectorBytes(c.strengths) +
                     VectorBytes(c.runLengths) + MapBytes(c.maps) + VectorBytes(c.smallGroups) +
                     VectorBytes(c.largeGroups);
    }
    return bytes;
}

void ComputeShowdownStrengths(std::vector<int32_t>* out, const std::vector<CardMask>* hands,
                              CardMask board) {
    const uint64_t boardMask = EvaluatorMask(board);
    const int n = CardCount(board) + 2;
    out->assign(hands->size(), 0);
    for (size_t i = 0; i < hands->size(); ++i) {
        const CardMask hand = (*hands)[i];
        if (!hand) {
            (*out)[i] = -1;
            continue;
        }
        const uint64_t mask = boardMask | EvaluatorMask(hand);
        HandValue v;
        switch (n) {
            case 7:
                v = EvalHand7(mask);
                break;
            case 6:
                v = EvalHand6(mask);
                break;
            case 5:
                v = EvalHand5(mask);
                break;
            default:
                v = EvalCardMask(board | hand);
        }
        (*out)[i] = static_cast<int32_t>(v);
    }
}

int32_t HandClassKey(CardMask board, CardMask hand) {
    if (!hand) return -1;
    const int lo = LowestCard(hand), hi = HighestCard(hand);
    // H is the higher rank; for a pair the lower card number.
    const bool loLeads = CardRank(lo) >= CardRank(hi);
    const int h = loLeads ? lo : hi, o = loLeads ? hi : lo;
    const int sh = CardSuit(h), so = CardSuit(o);
    auto onBoard = [board](int suit) { return SuitField(board, suit) != 0; };
    int32_t low;
    if (sh == so) {
        low = 64 + (onBoard(sh) ? 4 - sh : 0);
    } else {
        low = (onBoard(sh) ? 8 * (4 - sh) : 0) | (onBoard(so) ? 4 - so : 0);
    }
    return (CardRank(h) * 13 + CardRank(o)) << 8 | low;
}

bool BuildIsomorphismMaps(std::vector<CardMask>* hands, std::vector<int32_t>* strengths,
                          std::vector<std::vector<uint16_t>>* maps, CardMask board, int32_t card,
                          int32_t weight, const std::vector<CardMask>* parentHands,
                          const uint16_t* parentIndex) {
    const std::vector<CardMask>& parent = *parentHands;
    const size_t m = parent.size();
    std::vector<CardMask> cand(m);
    for (size_t i = 0; i < m; ++i) cand[i] = (parent[i] & board) ? 0 : parent[i];
    std::vector<int32_t> value;
    ComputeShowdownStrengths(&value, &cand, board);

    // Stable order by (value, class key on five-card boards): ties keep parent order, which the
    // saved row layout depends on. Blocked hands (value -1) are left out, as they would be dropped
    // after sorting. The low bits carry the parent position back out of the sort.
    const bool river = CardCount(board) == 5;
    std::vector<uint64_t> order;
    order.reserve(m);
    for (size_t i = 0; i < m; ++i) {
        if (value[i] < 0) continue;
        const uint64_t key = river ? static_cast<uint64_t>(HandClassKey(board, cand[i])) : 0;
        order.push_back(static_cast<uint64_t>(value[i]) << 28 | key << 11 | i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](uint64_t a, uint64_t b) { return (a >> 11) < (b >> 11); });

    hands->clear();
    strengths->clear();
    maps->assign(weight, {});
    for (auto& map : *maps) map.reserve(order.size());
    hands->reserve(order.size());
    strengths->reserve(order.size());
    const int s = CardSuit(card);
    bool ok = true;
    for (uint64_t entry : order) {
        const size_t i = entry & 0x7FF;
        hands->push_back(parent[i]);
        strengths->push_back(value[i]);
        (*maps)[0].push_back(static_cast<uint16_t>(i));
        for (int k = 1; k < weight; ++k) {
            int perm[4] = {0, 1, 2, 3};
            std::swap(perm[s], perm[s + k]);
            const CardMask exchanged = PermuteSuits(parent[i], perm);
            const uint16_t position = parentIndex[ComboIndex(exchanged)];
            (*maps)[k].push_back(position);
            if (position == kNoPosition) {
                PrintIsomorphError(board, parent[i], exchanged);
                ok = false;
            }
        }
    }
    return ok;
}

void GroupEqualStrengths(RiverRecord* record) {
    const std::vector<int32_t>& strength = record->strengths;
    record->runLengths.clear();
    record->smallGroups.clear();
    record->largeGroups.clear();
    // Exact sizes: a flop set holds thousands of river records.
    size_t runs = strength.empty() ? 0 : 1;
    for (size_t i = 1; i < strength.size(); ++i) runs += strength[i] != strength[i - 1];
    record->runLengths.reserve(runs);
    size_t total = 0;
    for (size_t start = 0; start < strength.size();) {
        size_t end = start + 1;
        while (end < strength.size() && strength[end] == strength[start]) ++end;
        record->runLengths.push_back(static_cast<int16_t>(end - start));
        total += end - start;
        start = end;
    }
    if (total != strength.size()) fail_fatal(nullptr);
    size_t small = 0;
    for (int16_t length : record->runLengths) small += length <= 16;
    record->smallGroups.reserve(small);
    record->largeGroups.reserve(record->runLengths.size() - small);
    uint32_t first = 0;
    for (size_t g = 0; g < record->runLengths.size(); ++g) {
        const uint32_t length = static_cast<uint32_t>(record->runLengths[g]);
        if (length <= 16) {
            const uint32_t lanes = length <= 8 ? length : length - 8;
            const uint64_t laneMask = lanes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * lanes)) - 1;
            record->smallGroups.push_back({static_cast<uint32_t>(g), static_cast<uint16_t>(first),
                                           static_cast<uint16_t>(length), laneMask});
        } else {
            record->largeGroups.push_back({static_cast<uint32_t>(g), static_cast<int32_t>(first),
                                           static_cast<int32_t>(length)});
        }
        first += length;
    }
}

bool SetupSubgameRecord(SubgameRecord* record, const std::vector<CardMask>* parentHands,
                        const uint16_t* parentIndex) {
    bool ok = BuildIsomorphismMaps(&record->hands, &record->strengths, &record->maps, record->board,
                                   record->card, record->weight, parentHands, parentIndex);
    FillPositions(record->index, &record->pairs, record->hands);
    record->riverHandCounts.clear();
    for (RiverRecord& river : record->rivers) {
        ok &= BuildIsomorphismMaps(&river.hands, &river.strengths, &river.maps, river.board,
                                   river.card, river.weight, &record->hands, record->index);
        FillPositions(river.index, &river.pairs, river.hands);
        GroupEqualStrengths(&river);
        record->riverHandCounts.push_back(static_cast<int32_t>(river.hands.size()));
    }
    return ok;
}

bool SetHoles(HandSet* set, const double* range0, const double* range1) {
    std::fill(set->index, set->index + kComboCount, kNoPosition);
    set->hands.clear();
    for (int combo = 0; combo < kComboCount; ++combo) {
        const CardMask hand = ComboMask(combo);
        if (hand & set->board) continue;
        // A weight that is not > 0 (NaN included) does not make a hand live.
        if (range0[combo] > 0 || range1[combo] > 0) set->hands.push_back(hand);
    }
    FillPositions(set->index, &set->pairs, set->hands);

    const int count = static_cast<int>(set->records.size());
    set->recordHandCounts.assign(count, 0);
    set->riverHandCounts.assign(count, {});
    std::vector<uint8_t> failed(count, 0);
    // Each iteration writes only its own record and its own count slots. A single record (a turn
    // or river root) or a handful of hands is done sooner than a team wakes.
    const bool team = count > 1 && set->hands.size() >= 32;
#pragma omp parallel for num_threads(4) schedule(dynamic, 1) if (team)
    for (int r = 0; r < count; ++r) {
        SubgameRecord& record = set->records[r];
        failed[r] = !SetupSubgameRecord(&record, &set->hands, set->index);
        set->recordHandCounts[r] = static_cast<int32_t>(record.hands.size());
        set->riverHandCounts[r] = record.riverHandCounts;
    }
    return std::none_of(failed.begin(), failed.end(), [](uint8_t f) { return f != 0; });
}

bool LoadRecordRanges(std::array<std::vector<float>, 4>* rows, const double* range0,
                      const double* range1, const std::vector<CardMask>* hands) {
    const size_t n = hands->size();
    for (auto& row : *rows) row.clear();
    // Weights that do not make a hand live (not > 0, NaN included) count as 0 here too.
    auto weight = [](double w) { return w > 0 ? static_cast<float>(w) : 0.0f; };
    const std::vector<CardMask>& list = *hands;
    (*rows)[0].reserve(n);
    (*rows)[1].reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const int combo = ComboIndex(list[i]);
        (*rows)[0].push_back(weight(range0[combo]));
        (*rows)[1].push_back(weight(range1[combo]));
    }
    // A total less the blocked weights would cancel away small weights beside large ones, and
    // could even report no compatible pair; so unless every sum of the weights is exact, each
    // compatible sum is added up hand by hand. Four partial sums let that loop run in vector
    // lanes. Exact sums give the same bits either way.
    double totals[2];
    for (int p = 0; p < 2; ++p) {
        const std::vector<float>& own = (*rows)[p];
        const std::vector<float>& other = (*rows)[1 - p];
        double total = 0;
        if (SumsAreExact(other)) {
            double all = 0, byCard[kCardCount] = {};
            for (size_t j = 0; j < n; ++j) {
                all += other[j];
                byCard[LowCard(list[j])] += other[j];
                byCard[HighCard(list[j])] += other[j];
            }
            for (size_t i = 0; i < n; ++i) {
                // The hand itself meets both of its cards: taken off twice, put back once.
                const double compatible =
                    all - byCard[LowCard(list[i])] - byCard[HighCard(list[i])] + other[i];
                total += static_cast<double>(own[i]) * compatible;
            }
            totals[p] = total;
            continue;
        }
        for (size_t i = 0; i < n; ++i) {
            const CardMask hand = list[i];
            double part[4] = {0, 0, 0, 0};
            size_t j = 0;
            for (; j + 4 <= n; j += 4)
                for (size_t l = 0; l < 4; ++l)
                    part[l] += (hand & list[j + l]) ? 0.0 : static_cast<double>(other[j + l]);
            for (; j < n; ++j) part[0] += (hand & list[j]) ? 0.0 : static_cast<double>(other[j]);
            const double compatible = (part[0] + part[1]) + (part[2] + part[3]);
            total += static_cast<double>(own[i]) * compatible;
        }
        totals[p] = total;
    }
    if (!(totals[0] > 0) || !(totals[1] > 0) || !std::isfinite(totals[0]) ||
        !std::isfinite(totals[1]))
        return false;
    for (int p = 0; p < 2; ++p) {
        (*rows)[2 + p].resize(n);
        for (size_t i = 0; i < n; ++i)
            (*rows)[2 + p][i] = static_cast<float>((*rows)[p][i] / totals[p]);
    }
    return true;
}
