#include "interpreter/saved_tree_commands.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "cards/cards.h"
#include "interpreter/line_set.h"
#include "interpreter/situation.h"
#include "interpreter/tree_commands.h"
#include "interpreter/tree_state.h"
#include "solver/compression_levels.h"
#include "solver/saved_tree_reader.h"
#include "solver/solved_tree.h"
#include "solver/solver_defaults.h"
#include "solver/solver_running.h"
#include "utilities/output.h"

namespace {

constexpr int32_t kNewestVersion = 7;
constexpr size_t kHeaderBytes = 60;
constexpr double kLargestAmount = 2147483647.0;

[[noreturn]] void invalid(const char* what) {
    throw IOException(std::string("invalid file (") + what + ")");
}

void refuse_while_solving() {
    if (TreeSolverRunning()) throw_command_error("Can't do that when solver is running");
}

double read_amount(BinaryReader& in) {
    const double v = ReadValue<double>(in);
    if (!std::isfinite(v) || std::fabs(v) > kLargestAmount) invalid("amount");
    return v;
}

void read_board(BinaryReader& in) {
    std::array<CardMask, 3> masks;
    for (CardMask& m : masks) m = ReadValue<uint64_t>(in);
    constexpr CardMask kDeck = (CardMask{1} << 52) - 1;
    const bool valid = (masks[0] & ~kDeck) == 0 && (masks[1] & ~kDeck) == 0 &&
                       (masks[2] & ~kDeck) == 0 && CardCount(masks[0]) == 3 &&
                       CardCount(masks[1]) <= 1 && CardCount(masks[2]) <= 1 &&
                       (masks[2] == 0 || masks[1] != 0) && (masks[0] & masks[1]) == 0 &&
                       ((masks[0] | masks[1]) & masks[2]) == 0;
    if (!valid) invalid("board");
    BoardMasks = masks;
}

void read_range(BinaryReader& in, int player) {
    std::vector<double> range = ReadDoubleArray(in, kComboCount);
    for (double w : range)
        if (!std::isfinite(w) || w < 0.0) invalid("range");
    PlayerRanges[player] = std::move(range);
}

void read_line_fields(LineNode& node, BinaryReader& in) {
    node.player = ReadValue<int32_t>(in);
    node.street = ReadValue<int32_t>(in);
    if (node.street < 0 || node.street > 3) invalid("line street");
    node.bets = ReadValue<int32_t>(in);
    ReadValue<int32_t>(in);  // the record index comes from the rebuild
    node.amount = read_amount(in);
    node.contribution[0] = read_amount(in);
    node.contribution[1] = read_amount(in);
}

// Pre-order records without recursion: a hostile file may nest them arbitrarily deep.
void load_line_nodes(LineNode& root, BinaryReader& in) {
    struct Open {
        LineNode* node;
        int32_t childrenLeft;
    };
    read_line_fields(root, in);
    std::vector<Open> open{{&root, ReadValue<int32_t>(in)}};
    while (!open.empty()) {
        Open& top = open.back();
        if (top.childrenLeft < 1) {
            open.pop_back();
            continue;
        }
        top.childrenLeft -= 1;
        LineNode* parent = top.node;
        const double key = read_amount(in);
        auto child = std::make_unique<LineNode>();
        child->parent = parent;
        read_line_fields(*child, in);
        LineNode* raw = child.get();
        // A key read twice: the later child replaces the earlier one and its subtree.
        parent->children[key] = std::move(child);
        open.push_back({raw, ReadValue<int32_t>(in)});
    }
}

void read_tree_info_lines(BinaryReader& in) {
    TreeInfoLines.clear();
    const int32_t count = ReadValue<int32_t>(in);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t length = ReadValue<int32_t>(in);
        std::string line;
        // Grown as bytes arrive, so a length the file cannot back ends in the read error.
        for (int32_t done = 0; done < length;) {
            const int32_t step = std::min<int32_t>(length - done, 1 << 20);
            line.resize(static_cast<size_t>(done + step));
            in.read(line.data() + done, static_cast<size_t>(step));
            done += step;
        }
        TreeInfoLines.push_back(std::move(line));
    }
}

// Every failure caused by the file throws IOException or a command error.
void load_saved_tree(FileReader* in) {
    char tag[4] = {'-', '-', '-', '-'};
    in->read(tag, 4);
    if (std::memcmp(tag, "QX7:", 4) != 0) throw_command_error("invalid file");
    const int32_t version = ReadValue<int32_t>(*in);
    in->setFormatVersion(version);
    if (version > kNewestVersion)
        throw_command_error("unsupported data format, update to latest version");
    SavedTreeFlag = false;
    bool omittedRows = false;
    if (version >= 4) omittedRows = ReadValue<uint8_t>(*in) != 0;
    read_board(*in);
    std::array<double, 3> pot;
    for (double& v : pot) v = read_amount(*in);
    PotValues = pot;
    read_range(*in, 0);
    read_range(*in, 1);
    load_line_nodes(*line_set().root, *in);

    std::vector<uint8_t> header(kHeaderBytes);
    in->read(header.data(), kHeaderBytes);
    uint32_t flags;
    std::memcpy(&flags, header.data(), 4);
    // Refused before the build, the costly part of a load (after its own cheap refusal of an
    // empty line set); the library checks it again.
    int32_t forgotten;
    std::memcpy(&forgotten, header.data() + 4, 4);
    const int32_t rootStreet = BoardMasks[2] != 0 ? 3 : BoardMasks[1] != 0 ? 2 : 1;
    const bool forgottenValid = forgotten == -1 || (forgotten > rootStreet && forgotten <= 3);
    if (!forgottenValid && !line_set().root->children.empty()) invalid("header");
    build_tree_from_lines(false, (flags & kTreeIsomorphism) != 0 ? 1 : 0);
    try {
        MemoryReader headerIn(std::move(header), version);
        libsubgame_load_tree_header(headerIn);
        const int32_t level = ReadValue<int32_t>(*in);
        // A level without a pair of storage kinds loads as plain storage and keeps its number:
        // every reader of the number bounds-checks it, and the solver goes by the kinds.
        apply_compression_level(level >= 0 && level < kCompressionLevelCount ? level : 0);
        AppliedCompression = level;
        libsubgame_load_tree_data(*in, omittedRows);
        if (version >= 7)
            read_tree_info_lines(*in);
        else
            TreeInfoLines.clear();
        SavedTreeFlag = omittedRows;
    } catch (...) {
        // A half-loaded tree would answer from missing or partial storages.
        free_tree_core();
        throw;
    }
}

}  // namespace

void free_tree_core() {
    libsubgame_free_scenario();
    TreePresent = false;
    SavedTreeFlag = false;
}

void load_tree_from(const std::function<std::unique_ptr<FileReader>()>& open) {
    refuse_while_solving();
    free_tree_core();
    line_set().root = new_line_root();
    LinesEditedSinceBuild = true;
    try {
        std::unique_ptr<FileReader> in = open();
        load_saved_tree(in.get());
    } catch (const IOException& e) {
        free_tree_core();
        throw_command_error(e.message());
    }
}

void cmd_load_tree(CommandWords& words) {
    load_tree_from([&words] { return OpenFileReader(words[1]); });
    reply_ok(words);
}

void cmd_free_tree(CommandWords& words) {
    refuse_while_solving();
    free_tree_core();
    reply_ok(words);
}

void cmd_reset_tree_info(CommandWords& words) {
    TreeInfoLines.clear();
    reply_ok(words);
}

void cmd_add_info_line(CommandWords& words) {
    TreeInfoLines.push_back(words[1]);
    reply_ok(words);
}

void cmd_show_tree_info(CommandWords&) {
    // The permission ends at the next flush of a non-empty buffer; in a -c batch that is after the
    // batch's last value, so the '#' lines of every later value come through as well.
    set_show_hash_lines(true);
    for (const std::string& line : TreeInfoLines) out_printf("%s\n", line.c_str());
    out_printf("END\n");
}

void serialize_tree_info(BinaryWriter& out) {
    WriteValue<int32_t>(out, static_cast<int32_t>(TreeInfoLines.size()));
    for (const std::string& line : TreeInfoLines) {
        WriteValue<int32_t>(out, static_cast<int32_t>(line.size()));
        if (!line.empty()) out.write(line.data(), line.size());
    }
}

std::string probe_input_file(const CommandWords& words) {
    OpenFileReader(words[1]);
    return words[1];
}
