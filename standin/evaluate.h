// The evaluation's terms. Each term counts something for one side, seen from its own side of
// the board (its men move up, towards squares 1-5); the score adds the terms of white less
// those of black (black seen with the board turned round), each weighted by an opening and an
// ending weight blended by the number of men. The weights are tuned by `make tune` from games
// (tools/strength/tune.cpp) and compiled in from weights.inc, one row per term.
#pragma once

#include <bit>
#include <cstdint>
#include <iterator>

#include "board/board.h"

enum EvalTerm {
    term_man,
    term_king,
    term_square,                           // a man on square 6 + k, 45 terms
    term_balance = term_square + 45,       // |tempo of the left half - tempo of the right half|
    term_support,                          // a man with a friend diagonally behind, per side
    term_blocked,                          // a man with no free square ahead
    term_man_moves,                        // quiet steps the men have
    term_outpost,                          // a man on rows 5-6 held from both squares behind
    term_runaway,                          // a man no opponent can stop, 1 to 4 rows to go
    term_king_diagonal = term_runaway + 4, // a king on the long diagonal
    term_king_moves,                       // squares a king reaches
    term_advance_against_kings,            // rows a man has gone, when the other side has a king
    term_lead,       // material (a king three men) times the pieces gone, past 10: trade when ahead
    term_first_king, // the side has a king: the other's men no longer run through freely
    term_lead_both_kings, // the lead in material (a king three men) when both sides have kings
    term_count
};

// Rows are counted from the side's promotion row: row 0 holds squares 1-5.
constexpr uint64_t rows_mask(int first, int last) {
    uint64_t mask = 0;
    for (int i = first * 5; i < last * 5 + 5; ++i) mask |= 1ull << (i + i / 10);
    return mask;
}

// The squares a man on bit b can reach going up: those it might meet on its way to crowning.
struct ConeTable {
    uint64_t cone[54];
};
constexpr ConeTable make_cones() {
    ConeTable t{};
    for (int i = 0; i < 50; ++i) {
        const int row = i / 5, column = 2 * (i % 5) + (row % 2 == 0 ? 1 : 0);
        for (int j = 0; j < 50; ++j) {
            const int r = j / 5, c = 2 * (j % 5) + (r % 2 == 0 ? 1 : 0);
            const int up = row - r, side = c > column ? c - column : column - c;
            if (up > 0 && side <= up) t.cone[i + i / 10] |= 1ull << (j + j / 10);
        }
    }
    return t;
}
constexpr ConeTable cones = make_cones();

// Row (0 holds squares 1-5) and half of the board of each bit, for the men's loop.
struct RowTable {
    uint8_t row[54];
    bool left[54];
};
constexpr RowTable make_rows() {
    RowTable t{};
    for (int i = 0; i < 50; ++i) {
        const int row = i / 5;
        t.row[i + i / 10] = uint8_t(row);
        t.left[i + i / 10] = 2 * (i % 5) + (row % 2 == 0) < 5;
    }
    return t;
}
constexpr RowTable man_rows = make_rows();

// The board turned round: square s becomes 51 - s, that is bit b becomes 53 - b.
constexpr uint64_t turned(uint64_t x) {
    x = (x >> 1 & 0x5555555555555555ull) | (x & 0x5555555555555555ull) << 1;
    x = (x >> 2 & 0x3333333333333333ull) | (x & 0x3333333333333333ull) << 2;
    x = (x >> 4 & 0x0F0F0F0F0F0F0F0Full) | (x & 0x0F0F0F0F0F0F0F0Full) << 4;
    x = (x >> 8 & 0x00FF00FF00FF00FFull) | (x & 0x00FF00FF00FF00FFull) << 8;
    x = (x >> 16 & 0x0000FFFF0000FFFFull) | (x & 0x0000FFFF0000FFFFull) << 16;
    return (x >> 32 | x << 32) >> 10;
}

// Calls add(term, count) for the side whose pieces are own, moving up.
template <class Add> void side_terms(uint64_t own, uint64_t opponent, uint64_t kings, Add add) {
    const uint64_t men = own & ~kings, own_kings = own & kings,
                   empty = board_mask & ~(own | opponent);
    add(term_man, std::popcount(men));
    add(term_king, std::popcount(own_kings));
    const int gone = 40 - std::popcount(own | opponent);
    const int material = std::popcount(men) + 3 * std::popcount(own_kings);
    add(term_lead, material * (gone > 10 ? gone - 10 : 0));
    add(term_first_king, own_kings != 0);
    if (own_kings && (opponent & kings)) {
        const int lead =
            material - std::popcount(opponent & ~kings) - 3 * std::popcount(opponent & kings);
        if (lead > 0) add(term_lead_both_kings, lead);
    }
    int left = 0, right = 0;
    const bool opponent_has_king = (opponent & kings) != 0;
    for (uint64_t m = men; m; m &= m - 1) {
        const int bit = std::countr_zero(m), i = bit - bit / 11, row = man_rows.row[bit];
        add(term_square + i - 5, 1);
        (man_rows.left[bit] ? left : right) += 9 - row;
        if (opponent_has_king)
            add(term_advance_against_kings, 9 - row);
        else if (row <= 4 && (cones.cone[bit] & opponent) == 0)
            add(term_runaway + (row > 0 ? row - 1 : 0), 1);
    }
    add(term_balance, left > right ? left - right : right - left);
    const uint64_t behind5 = men & step5_mask & own >> 5, behind6 = men & step6_mask & own >> 6;
    add(term_support, std::popcount(behind5) + std::popcount(behind6));
    add(term_outpost, std::popcount(behind5 & behind6 & rows_mask(4, 5)));
    const uint64_t up5 = men >> 5 & step5_mask & empty, up6 = men >> 6 & step6_mask & empty;
    add(term_man_moves, std::popcount(up5) + std::popcount(up6));
    add(term_blocked,
        std::popcount(men & ~((empty & step5_mask) << 5) & ~((empty & step6_mask) << 6)));
    // Squares 5, 10, 14, 19, 23, 28, 32, 37, 41, 46.
    constexpr uint64_t long_diagonal = 0x0002108421084210ull;
    add(term_king_diagonal, std::popcount(own_kings & long_diagonal));
    int reach = 0;
    for (uint64_t k = own_kings; k; k &= k - 1) {
        const RayEntry& rays = ray_table[std::countr_zero(k)];
        for (int d = 0; d < 4; ++d)
            for (int n = 0; n < rays.length[d] && (rays.ray[d][n] & empty); ++n) ++reach;
    }
    add(term_king_moves, reach);
}

// Calls add(term, count) with white's count less black's.
template <class Add> void eval_terms(const Position& p, Add add) {
    side_terms(p.white, p.black, p.kings, add);
    side_terms(turned(p.black), turned(p.white), turned(p.kings),
               [&](int term, int count) { add(term, -count); });
}

// Opening and ending weight of each term, written by make tune.
inline constexpr int16_t eval_weights[][2] = {
#include "standin/weights.inc"
};
static_assert(std::size(eval_weights) == term_count, "one row of weights.inc per term");
