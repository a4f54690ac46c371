#include "interpreter/node_report.h"

#include "utilities/output.h"

void print_board(CardMask flop, int32_t turn, int32_t river) {
    const char* separator = "";
    for (CardMask rest = flop; rest != 0; rest &= rest - 1) {
        out_printf("%s%s", separator, CardText(LowestCard(rest)).c_str());
        separator = " ";
    }
    if (turn >= 0) out_printf(" %s", CardText(turn).c_str());
    if (river >= 0) out_printf(" %s", CardText(river).c_str());
    out_printf("\n");
}

void print_pot_line(const LineNode* node, double pot) {
    const double c0 = node != nullptr ? node->contribution[0] : 0.0;
    const double c1 = node != nullptr ? node->contribution[1] : 0.0;
    out_printf("%g %g %g\n", c0, c1, pot);
}
