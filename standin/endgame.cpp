// The endgame bitbases' index and the file. A slice's index is the mixed-radix number of four
// sets: the white men (among squares 6-50), the black men (1-45), the white kings and the
// black kings (1-50), each set numbered in the combinatorial number system.
#include "standin/endgame.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

#include "standin/evaluate.h"

int endgame_pieces = 0;
uint8_t* endgame_table = nullptr;

namespace {

struct Binomials {
    uint64_t c[51][endgame_max_pieces + 1]; // c[n][k]: n choose k
};
constexpr Binomials make_binomials() {
    Binomials b{};
    for (int n = 0; n <= 50; ++n) {
        b.c[n][0] = 1;
        for (int k = 1; k <= endgame_max_pieces; ++k)
            b.c[n][k] = n == 0 ? 0 : b.c[n - 1][k - 1] + b.c[n - 1][k];
    }
    return b;
}
constexpr Binomials binomials = make_binomials();

constexpr int men_squares = 45, all_squares = 50;
constexpr int most = endgame_max_pieces;
uint64_t slice_offsets[most + 1][most + 1][most + 1][most + 1];

// The number of a set of squares: the i-th lowest square (counted from first) adds
// (square choose i + 1).
uint64_t set_number(uint64_t mask, int first) {
    uint64_t number = 0;
    for (int i = 1; mask; mask &= mask - 1, ++i) {
        const int bit = std::countr_zero(mask);
        number += binomials.c[bit - bit / 11 - first][i];
    }
    return number;
}

// The set of count squares (counted from first, among range) with that number.
uint64_t set_of_number(uint64_t number, int count, int range, int first) {
    uint64_t mask = 0;
    int square = range;
    for (int i = count; i > 0; --i) {
        do --square;
        while (binomials.c[square][i] > number);
        number -= binomials.c[square][i];
        mask |= square_mask[square + first];
    }
    return mask;
}

} // namespace

uint64_t endgame_slice_size(const EndgameSlice& s) {
    return binomials.c[men_squares][s.white_men] * binomials.c[men_squares][s.black_men] *
           binomials.c[all_squares][s.white_kings] * binomials.c[all_squares][s.black_kings];
}

uint64_t endgame_index(const Position& p, const EndgameSlice& s) {
    uint64_t index = set_number(p.white & ~p.kings, 5);
    index = index * binomials.c[men_squares][s.black_men] + set_number(p.black & ~p.kings, 0);
    index = index * binomials.c[all_squares][s.white_kings] + set_number(p.white & p.kings, 0);
    return index * binomials.c[all_squares][s.black_kings] + set_number(p.black & p.kings, 0);
}

bool endgame_position(const EndgameSlice& s, uint64_t index, Position& p) {
    const uint64_t bk_count = binomials.c[all_squares][s.black_kings],
                   wk_count = binomials.c[all_squares][s.white_kings],
                   bm_count = binomials.c[men_squares][s.black_men];
    const uint64_t black_kings = set_of_number(index % bk_count, s.black_kings, all_squares, 0);
    index /= bk_count;
    const uint64_t white_kings = set_of_number(index % wk_count, s.white_kings, all_squares, 0);
    index /= wk_count;
    const uint64_t black_men = set_of_number(index % bm_count, s.black_men, men_squares, 0);
    const uint64_t white_men = set_of_number(index / bm_count, s.white_men, men_squares, 5);
    const uint64_t all = black_kings | white_kings | black_men | white_men;
    p = Position{black_kings | black_men, white_kings | white_men, black_kings | white_kings};
    return std::popcount(all) != s.white_men + s.white_kings + s.black_men + s.black_kings;
}

EndgameSlice endgame_slice_of(const Position& p) {
    return EndgameSlice{std::popcount(p.white & ~p.kings), std::popcount(p.white & p.kings),
                        std::popcount(p.black & ~p.kings), std::popcount(p.black & p.kings)};
}

Position endgame_turned(const Position& p) {
    return Position{turned(p.white), turned(p.black), turned(p.kings)};
}

uint64_t endgame_layout(int pieces) {
    uint64_t total = 0;
    for (int n = 2; n <= pieces; ++n)
        for (int wm = 0; wm <= n; ++wm)
            for (int wk = 0; wm + wk <= n; ++wk)
                for (int bm = 0; wm + wk + bm <= n; ++bm) {
                    const int bk = n - wm - wk - bm;
                    if (wm + wk == 0 || bm + bk == 0) continue;
                    slice_offsets[wm][wk][bm][bk] = total;
                    total += endgame_slice_size(EndgameSlice{wm, wk, bm, bk});
                }
    return total;
}

uint64_t endgame_slice_offset(const EndgameSlice& s) {
    return slice_offsets[s.white_men][s.white_kings][s.black_men][s.black_kings];
}

EndgameValue endgame_stored(uint64_t n) {
    return EndgameValue(endgame_table[n / 4] >> (2 * (n % 4)) & 3);
}

void endgame_store(uint64_t n, EndgameValue value) {
    uint8_t& byte = endgame_table[n / 4];
    byte = uint8_t((byte & ~(3 << (2 * (n % 4)))) | value << (2 * (n % 4)));
}

EndgameValue probe_endgame(const Position& p, int white_to_move) {
    const Position q = white_to_move ? p : endgame_turned(p);
    const EndgameSlice s = endgame_slice_of(q);
    return endgame_stored(endgame_slice_offset(s) + endgame_index(q, s));
}

bool load_endgame(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) {
        printf("No endgame bitbases (%s): playing without them.\n", path);
        return true;
    }
    char line[64] = {};
    int pieces = 0;
    const size_t magic = sizeof endgame_magic - 1;
    const bool header = fgets(line, sizeof line, file) && strncmp(line, endgame_magic, magic) == 0;
    if (header) pieces = line[magic] - '0';
    const uint64_t bytes =
        pieces >= 2 && pieces <= endgame_max_pieces ? (endgame_layout(pieces) + 3) / 4 : 0;
    uint8_t* table = bytes ? new (std::nothrow) uint8_t[bytes] : nullptr;
    bool failed = !table || fread(table, 1, bytes, file) != bytes || fgetc(file) != EOF;
    fclose(file);
    if (failed) {
        printf("The endgame bitbases (%s) are not usable: playing without them.\n", path);
        delete[] table;
        return true;
    }
    delete[] endgame_table; // a table read or made before
    endgame_table = table;
    endgame_pieces = pieces;
    return false;
}
