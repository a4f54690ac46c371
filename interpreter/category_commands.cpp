#include "interpreter/category_commands.h"

#include <stdexcept>

#include "cards/hand_classifier.h"
#include "utilities/output.h"

void cmd_show_category_names(CommandWords& words) {
    out_text(CategoryNamesText());
}

void cmd_show_categories(CommandWords& words) {
    std::string text;
    for (size_t i = 1; i < words.size(); ++i) text += (i > 1 ? " " : "") + words[i];
    // The card parser stops at a NUL byte; the rest of such a word would go unread.
    if (text.find('\0') != std::string::npos) throw std::runtime_error("ERROR: invalid card\n");
    CardMask cards = 0;
    ParseCards(&cards, text.c_str());
    const ClassifierBoard board = ClassifierBoardFromMask(cards);
    if (board.count == 0) throw_command_error("invalid board");
    out_text(CategoriesText(board));
}
