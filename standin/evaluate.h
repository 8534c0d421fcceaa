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

// Patterns: the men on eight dark squares of each of 43 regions, each square empty (a king
// counts as empty), an own man or an opponent's man: 3^8 configurations a region, each with an
// opening and an ending weight of its own (patterns.inc, fitted by make tune). The regions are
// 25 overlapping blocks of 4 by 4 squares (16 whose rows and columns begin at 0, 2, 4 and 6, and
// 9 between them beginning at 1, 3 and 5), then 18 files: the squares of two neighbouring
// columns, one a row and each diagonally next to the one before, from the first row to the
// eighth and from the third to the last, so that the way of a man up the board is seen whole
// (the files of columns 0-1, 2-3, ... 8-9 first, then those of 1-2, ... 7-8). A side sees the
// regions from its own side of the board, so white and black share the weights.
constexpr int pattern_blocks = 43;
constexpr int square_blocks = 25; // the blocks of 4 by 4 squares come first
constexpr int even_files = 35;    // then the files of columns 0-1 to 8-9, then 1-2 to 7-8
constexpr int pattern_configs = 6561;

// The eight squares of a block are two neighbouring squares in each of its four rows: bits
// 0, 1, 5, 6, 11, 12, 16 and 17 from the block's first bit (rows begin at bits 0, 5, 11, 16
// from the first row of a pair of rows), gathered into one byte, nearest first.
constexpr uint32_t block_byte(uint64_t x, int first_bit) {
    x >>= first_bit;
    return uint32_t((x & 3) | (x >> 3 & 0xC) | (x >> 7 & 0x30) | (x >> 10 & 0xC0));
}
// A file's eight squares are bits 0, 5, 11, 16, 22, 27, 33 and 38 from its first bit (the same
// place in each row), gathered into one byte row by row: the pairs of rows first, then the
// pairs of pairs.
// step is the distance from the first square of a pair of rows to the second.
constexpr uint32_t gather_file(uint64_t x, int step) {
    x = (x | x >> step) & 0x600C01803ull;
    x = (x | x >> 9) & 0x3C0000Full;
    return uint32_t((x | x >> 18) & 0xFF);
}
constexpr uint32_t file_byte(uint64_t x, int first_bit) {
    return gather_file(x >> first_bit & 0x4208410821ull, 4);
}
// The files between them: bits 0, 6, 11, 17, 22, 28, 33 and 39.
constexpr uint32_t odd_file_byte(uint64_t x, int first_bit) {
    return gather_file(x >> first_bit & 0x8210420841ull, 5);
}
constexpr int block_first_bit(int block) {
    if (block >= square_blocks) // two stretches a file, the even one from the third row
        return (block - (block >= even_files ? even_files : square_blocks)) / 2 +
               11 * (block % 2 == 0);
    if (block >= 16) return 11 * ((block - 16) / 3) + (block - 16) % 3 + 6; // the same offsets
    const int row = 2 * (block / 4), column = 2 * (block % 4);
    return 5 * row + row / 2 + column / 2;
}
constexpr uint32_t region_byte(uint64_t x, int block) {
    return block < square_blocks ? block_byte(x, block_first_bit(block))
           : block < even_files  ? file_byte(x, block_first_bit(block))
                                 : odd_file_byte(x, block_first_bit(block));
}
// The region that region b becomes with the board turned round (its squares then read in the
// reverse order).
constexpr int turned_block(int block) {
    return block < 16              ? 15 - block
           : block < square_blocks ? 40 - block
           : block < even_files    ? 59 - block
                                   : 77 - block;
}
// Ternary value of a byte of squares (bit i weighs 3^i), and of the byte read backwards.
struct TernaryTable {
    uint16_t forward[256];
    uint16_t backward[256];
};
constexpr TernaryTable make_ternary() {
    TernaryTable t{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0, power = 1; i < 8; ++i, power *= 3) {
            if (b >> i & 1) t.forward[b] = uint16_t(t.forward[b] + power);
            if (b >> (7 - i) & 1) t.backward[b] = uint16_t(t.backward[b] + power);
        }
    return t;
}
constexpr TernaryTable ternary = make_ternary();

// The configuration of each block as white sees it and as black sees it. Black's view of block
// b is the board turned round: its turned block with its squares read backwards and the
// colours swapped.
struct PatternIndices {
    uint16_t white[pattern_blocks];
    uint16_t black[pattern_blocks];
};
inline void pattern_indices(const Position& p, PatternIndices& out) {
    const uint64_t white_men = p.white & ~p.kings, black_men = p.black & ~p.kings;
    for (int b = 0; b < pattern_blocks; ++b) {
        const uint32_t w = region_byte(white_men, b), k = region_byte(black_men, b);
        out.white[b] = uint16_t(ternary.forward[w] + 2 * ternary.forward[k]);
        out.black[turned_block(b)] = uint16_t(ternary.backward[k] + 2 * ternary.backward[w]);
    }
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

// Opening and ending weight of each configuration of each block (evaluate.cpp, patterns.inc).
struct PatternWeight {
    int16_t opening;
    int16_t ending;
};
extern const PatternWeight pattern_weights[pattern_blocks][pattern_configs];
// Works out from them the table the evaluation reads (once, at start: search_init).
void fill_pattern_table();
