#include "interpreter/tree_commands.h"

#include <cmath>
#include <cstdio>

#include "interpreter/combo_order.h"
#include "interpreter/console_state.h"
#include "interpreter/meminfo.h"
#include "interpreter/node_path.h"
#include "interpreter/situation.h"
#include "interpreter/tree_state.h"
#include "solver/compression_levels.h"
#include "solver/solver_running.h"
#include "utilities/output.h"

int32_t ConfiguredCompression = -1;
int32_t AppliedCompression = 0;
bool SavedTreeFlag = false;
std::vector<std::string> TreeInfoLines;

namespace {

std::function<uint64_t()> g_freeMemory;

uint64_t free_memory_bytes() {
    return g_freeMemory ? g_freeMemory() : available_memory_bytes();
}

void refuse_while_solving() {
    if (TreeSolverRunning()) throw_command_error("Can't do that when solver is running");
}

// Cards of a combination in ascending card number, "Kh Ah".
std::string combo_cards_text(int combo) {
    const CardPair pair = ComboCards(combo);
    return CardText(CardPairLo(pair)) + " " + CardText(CardPairHi(pair));
}

}  // namespace

const char* compression_level_name(int32_t level) {
    if (level == -1) return "auto";
    return level >= 0 && level < kCompressionLevelCount ? CompressionLevelEntry(level).name : "?";
}

int32_t choose_compression_level(uint64_t S, uint64_t M, bool threeSuitFlop) {
    if (S < M) return 0;
    const double s = static_cast<double>(S);
    const double m = static_cast<double>(M);
    const double f = threeSuitFlop ? 0.8 : 1.0;
    if (m > 0.58 * s) return 1;
    if (m > 0.39 * f * s) return 2;
    if (m > 0.29 * f * s) return 3;
    return 4;
}

void set_free_memory_source(std::function<uint64_t()> source) {
    g_freeMemory = std::move(source);
}

void flatten_lines(std::vector<TreeLine>& records, std::vector<LineNode*>& order, LineNode* node,
                   int32_t parent, double key, int32_t startStreet, double pot) {
    // An explicit stack: a line may be far deeper than the thread's stack allows recursion.
    struct Pending {
        LineNode* node;
        int32_t parent;
        double key;
    };
    std::vector<Pending> pending{{node, parent, key}};
    while (!pending.empty()) {
        const Pending at = pending.back();
        pending.pop_back();
        const int32_t index = static_cast<int32_t>(records.size());
        order.push_back(at.node);
        if (!at.node->children.empty()) {
            records.push_back({0, at.parent, at.node->player, startStreet + at.node->street, 0.0});
        } else {
            records.push_back(
                {at.key >= 0.0 ? 1 : 2, at.parent, -1, -1, at.node->amount + 0.5 * pot});
        }
        // Pushed last to first, so the first child (the largest key) is taken next.
        for (auto it = at.node->children.rbegin(); it != at.node->children.rend(); ++it)
            pending.push_back({it->second.get(), index, it->first});
    }
}

void check_range_isomorphism(int32_t startStreet, int32_t isomorphism) {
    if (isomorphism < 0)
        isomorphism = startStreet >= 1 && startStreet <= 3 ? IsomorphismByStreet[startStreet] : 0;
    if (startStreet < 1 || startStreet > 2 || !isomorphism) return;
    // On a turn root the turn's suit is fixed as well: its cards are skipped like the flop's.
    CardMask dead = BoardMasks[0];
    if (startStreet == 2) dead |= BoardMasks[1];
    static const char* const kPlayer[2] = {"OOP", "IP"};
    for (int p = 0; p < 2; ++p) {
        const ComboRange& range = PlayerRanges[p];
        for (const std::vector<uint16_t>& combos : HandClassCombos) {
            int first = -1;
            for (uint16_t combo : combos) {
                if ((ComboMask(combo) & dead) != 0) continue;
                if (first < 0) {
                    first = combo;
                    continue;
                }
                const double w0 = range[first];
                const double w = range[combo];
                if (std::fabs(w0 - w) > 2.220446049250313e-16) {
                    char text[256];
                    std::snprintf(text, sizeof text,
                                  "inconsistent range: %s P(%s) == %.2g, P(%s) == %.2g, use "
                                  "'set_isomorphism 0 0' if intended",
                                  kPlayer[p], combo_cards_text(first).c_str(), w0,
                                  combo_cards_text(combo).c_str(), w);
                    throw_command_error(text);
                }
            }
        }
    }
}

void build_tree_from_lines(bool chooseLevel, int32_t isomorphism) {
    const int32_t startStreet = 1 + (BoardMasks[1] != 0) + (BoardMasks[2] != 0);
    LineNode* root = line_set().root.get();
    // A root without actions would flatten into one leaf with no parent.
    if (root->children.empty()) throw_command_error("lines not set");
    const double pot = PotValues[2];
    // Leaf stakes carry half the pot: a negative one would pay the folder.
    if (!(pot >= 0.0)) throw_command_error("invalid pot");
    if (isomorphism < 0) isomorphism = IsomorphismByStreet[startStreet];
    check_range_isomorphism(startStreet, isomorphism);
    std::vector<TreeLine> records;
    std::vector<LineNode*> order;
    flatten_lines(records, order, root, -1, 0.0, startStreet, pot);
    for (const TreeLine& r : records)
        if (r.kind == 0 && r.street >= 4) throw_command_error("invalid line");

    int32_t flop[3];
    CardMask rest = BoardMasks[0];
    for (int32_t& card : flop) {
        card = lowest_card(rest);
        rest &= rest - 1;
    }
    const int32_t turn = startStreet >= 2 ? lowest_card(BoardMasks[1]) : -1;
    const int32_t river = startStreet == 3 ? lowest_card(BoardMasks[2]) : -1;
    const int32_t result = libsubgame_build_tree(
        1, records.data(), static_cast<int32_t>(records.size()), flop[0], flop[1], flop[2], turn,
        river, PlayerRanges[0].data(), PlayerRanges[1].data(), static_cast<uint8_t>(isomorphism));
    switch (result) {
        case kBuildOk:
            break;
        case kBuildSolverRunning:
            throw_command_error("Can't do that when solver is running");
        case kBuildNoCompatibleHands:
            throw_command_error("ranges have no compatible hands");
        case kBuildIsomorphismError:
            throw_command_error("inconsistent range for isomorphism");
        case kBuildInvalidCards:
            throw_command_error("board not set");
        case kBuildTooDeep:
            throw_command_error("line too long");
        default:
            throw_command_error("invalid line");
    }

    // The new tree is in place: the interpreter's picture of it follows.
    for (size_t i = 0; i < order.size(); ++i) order[i]->recordIndex = static_cast<int32_t>(i);
    StartStreet = startStreet;
    EffectiveStack = static_cast<int32_t>(max_line_amount(*root, 0.0));
    TreeBoardMasks = BoardMasks;
    TreePot = pot;
    TreeRanges = {PlayerRanges[0], PlayerRanges[1]};
    LinesEditedSinceBuild = false;
    if (chooseLevel) auto_compression_level();
    TreePresent = true;
}

void auto_compression_level() {
    if (ConfiguredCompression >= 0) {
        apply_compression_level(ConfiguredCompression);
        return;
    }
    libsubgame_reset_progress(CompressionLevelEntry(0).streamKinds);
    uint64_t S = 0;
    if (TreeParams* params = libsubgame_copy_tree_params()) {
        S = params->streetEstimate[1] + params->streetEstimate[2] + params->streetEstimate[3];
        libsubgame_free(params);
    }
    if (Verbosity >= 1)
        out_printf("[uncompressed storage %lld MB]\n", static_cast<long long>(S / 1048576));
    const uint64_t M = static_cast<uint64_t>(static_cast<double>(free_memory_bytes()) * 0.85);
    int suits = 0;
    for (int s = 0; s < 4; ++s) suits += SuitField(TreeBoardMasks[0], s) != 0;
    const int32_t level = choose_compression_level(S, M, suits == 3);
    out_printf("#auto compression level %d\n", level);
    apply_compression_level(level);
}

void apply_compression_level(int32_t level) {
    AppliedCompression = level;
    libsubgame_reset_progress(CompressionLevelEntry(level).streamKinds);
}

void cmd_build_tree(CommandWords& words) {
    refuse_while_solving();
    if (PlayerRanges[0].empty() || PlayerRanges[1].empty()) throw_command_error("ranges not set");
    if (CardCount(BoardMasks[0]) != 3) throw_command_error("board not set");
    if (line_set().root->children.empty()) throw_command_error("lines not set");
    TreeInfoLines.clear();
    SavedTreeFlag = false;
    build_tree_from_lines(true);
    if (Verbosity >= 1) {
        out_printf("[compression set %d (%s) actual %d (%s)]\n", ConfiguredCompression,
                   compression_level_name(ConfiguredCompression), AppliedCompression,
                   compression_level_name(AppliedCompression));
    }
    reply_ok(words);
}

void cmd_set_compression(CommandWords& words) {
    int32_t level = -2;
    for (int32_t i = -1; i < kCompressionLevelCount; ++i)
        if (words[1] == compression_level_name(i)) level = i;
    if (level == -2) {
        level = word_to_int(words[1]);
        if (level < 0) level = -1;
        if (level >= kCompressionLevelCount) level = kCompressionLevelCount - 1;
    }
    if (TreePresent) refuse_while_solving();
    ConfiguredCompression = level;
    if (TreePresent) auto_compression_level();
    reply_ok(words);
}

void cmd_get_actual_compression(CommandWords& words) {
    out_printf("compression %d\n", AppliedCompression);
}

void cmd_cut_line(CommandWords& words) {
    refuse_while_solving();
    require_tree();
    const NodePath path = parse_node_path(words[1]);
    if (path.node == nullptr || path.node->parent == nullptr) throw_command_error("can't cut root");
    LineNode* parent = path.node->parent;
    for (auto it = parent->children.begin(); it != parent->children.end(); ++it) {
        if (it->second.get() == path.node) {
            parent->children.erase(it);
            break;
        }
    }
    // The set no longer matches the tree until the rebuild succeeds.
    LinesEditedSinceBuild = true;
    build_tree_from_lines(true);
    reply_ok(words);
}
