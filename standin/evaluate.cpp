// The evaluation, in hundredths of a man: material (kings worth more), advancement that counts
// for more as the men thin out, the centre, the back rank, men that support each other, kings on
// the long diagonal, and a push to trade when ahead. Known drawn king endings are damped.
#include <bit>

#include "standin/search.h"

namespace {

constexpr int man_value = 100;
constexpr int king_value = 320;

struct EvalTables {
    int man_opening[50]; // white man on square index i, many men on the board
    int man_ending[50];  // white man on square index i, few men left
};

constexpr EvalTables make_tables() {
    EvalTables t{};
    // Rows counted from white's home row: 0 is the home row, 9 the promotion row.
    constexpr int advance_opening[10] = {0, 0, 1, 2, 3, 4, 5, 6, 8, 0};
    constexpr int advance_ending[10] = {0, 2, 5, 9, 14, 20, 28, 38, 52, 0};
    constexpr int column_bonus[10] = {-8, -2, 2, 5, 5, 5, 5, 2, -2, -8};
    constexpr int row_centre[10] = {0, 0, 0, 2, 4, 4, 2, 0, 0, 0};
    for (int i = 0; i < 50; ++i) {
        int row = i / 5;
        int column = 2 * (i % 5) + (row % 2 == 0 ? 1 : 0);
        int advance = 9 - row;
        t.man_opening[i] = advance_opening[advance] + column_bonus[column] + row_centre[row];
        t.man_ending[i] = advance_ending[advance] + column_bonus[column] / 2;
    }
    // White's back rank: men on 47 and 49 hold off breakthroughs for a long time.
    t.man_opening[46] += 8;
    t.man_opening[48] += 8;
    t.man_opening[47] += 4;
    return t;
}

constexpr EvalTables tables = make_tables();

// Squares 5, 10, 14, 19, 23, 28, 32, 37, 41, 46.
constexpr uint64_t long_diagonal = [] {
    uint64_t mask = 0;
    for (int s : {5, 10, 14, 19, 23, 28, 32, 37, 41, 46}) mask |= 1ull << ((s - 1) + (s - 1) / 10);
    return mask;
}();

constexpr int index_of_bit(int bit) {
    return bit - bit / 11;
}

// Piece-square sum for white men (the board seen from white's side).
int white_men_sum(uint64_t men, int opening_weight) {
    int opening = 0, ending = 0;
    while (men) {
        int i = index_of_bit(std::countr_zero(men));
        men &= men - 1;
        opening += tables.man_opening[i];
        ending += tables.man_ending[i];
    }
    return (opening * opening_weight + ending * (40 - opening_weight)) / 40;
}

// Black men use the same tables with the board turned round: square s becomes 51 - s.
int black_men_sum(uint64_t men, int opening_weight) {
    int opening = 0, ending = 0;
    while (men) {
        int i = 49 - index_of_bit(std::countr_zero(men));
        men &= men - 1;
        opening += tables.man_opening[i];
        ending += tables.man_ending[i];
    }
    return (opening * opening_weight + ending * (40 - opening_weight)) / 40;
}

} // namespace

int evaluate(const Position& p, int white_to_move) {
    const uint64_t white_men = p.white & ~p.kings, black_men = p.black & ~p.kings;
    const uint64_t white_kings = p.white & p.kings, black_kings = p.black & p.kings;
    const int wm = std::popcount(white_men), bm = std::popcount(black_men);
    const int wk = std::popcount(white_kings), bk = std::popcount(black_kings);
    const int men = wm + bm;
    const int opening_weight = men > 40 ? 40 : men;

    const int white_material = wm * man_value + wk * king_value;
    const int black_material = bm * man_value + bk * king_value;
    int score = white_material - black_material;

    score += white_men_sum(white_men, opening_weight) - black_men_sum(black_men, opening_weight);

    // A man with a friend diagonally behind it cannot be taken from that side.
    const int white_support =
        std::popcount(white_men & (p.white >> 5)) + std::popcount(white_men & (p.white >> 6));
    const int black_support =
        std::popcount(black_men & (p.black << 5)) + std::popcount(black_men & (p.black << 6));
    score += 3 * (white_support - black_support) * opening_weight / 40;

    score += 20 * (std::popcount(white_kings & long_diagonal) -
                   std::popcount(black_kings & long_diagonal));

    // Ahead in material, fewer pieces make the lead count for more.
    const int pieces = wm + bm + wk + bk;
    score += (white_material - black_material) * (40 - (pieces > 40 ? 40 : pieces)) / 80;

    // Kings only, at most three against at least one: no win to be had by force.
    if (men == 0 && wk >= 1 && bk >= 1 && wk <= 3 && bk <= 3) score /= 16;

    return white_to_move ? score : -score;
}
