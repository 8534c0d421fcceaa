// The board: square numbering, the three board forms and their conversions,
// and the constant tables the move generators read.
//
// Square s (1..50, DXP order) is bit (s - 1) + (s - 1) / 10 of a 64-bit mask. Bits 10, 21,
// 32 and 43 are ghost bits that are never set, so every diagonal step is a shift:
// +6 down-right, +5 down-left, -5 up-right, -6 up-left. Black's men move down (towards 46-50).
#pragma once

#include <array>
#include <cstdint>

struct Position {
    uint64_t black; // every black piece, men and kings
    uint64_t white; // every white piece, men and kings
    uint64_t kings; // the kings of both colours
    bool operator==(const Position&) const = default;
};

// One signed byte per square, entry s - 1 for square s: -2 black king, -1 black man,
// 0 empty, 1 white man, 2 white king. Kavro's own game board uses the same bytes.
using ByteBoard = std::array<int8_t, 50>;

constexpr uint64_t step6_mask = 0x0000F7DEFBDF7BEFull;           // squares with a neighbour at +6
constexpr uint64_t step5_mask = 0x0001F7BEF7DEFBDFull;           // squares with a neighbour at +5
constexpr uint64_t black_promotion_mask = 0x003E000000000000ull; // squares 46-50
constexpr uint64_t white_promotion_mask = 0x000000000000001Full; // squares 1-5
constexpr uint64_t interior_mask = 0x0000F79EF3DE7BC0ull;        // squares with four neighbours
constexpr uint64_t board_mask = 0x003FF7FEFFDFFBFFull;           // all 50 playable bits
// Squares from which a jump (two steps) in direction d stays on the board.
constexpr uint64_t jump_mask[4] = {0x000003DE7BCF79EFull, 0x000007BCF79EF3DEull,
                                   0x001EF3DE7BCF7800ull, 0x003DE7BCF79EF000ull};

// Directions: 0 down-right (+6), 1 down-left (+5), 2 up-right (-5), 3 up-left (-6).
constexpr int down_right = 0, down_left = 1, up_right = 2, up_left = 3;

extern const std::array<uint64_t, 50> square_mask; // square s -> mask, index s - 1
extern const std::array<uint8_t, 50> square_bit;   // square s -> bit, index s - 1
extern const std::array<uint8_t, 54> bit_square;   // bit -> s - 1 (ghost bits hold 0)

// The squares along each diagonal from a square, nearest first, to the board's edge.
struct RayEntry {
    int32_t length[4];
    uint64_t ray[4][9];
};
extern RayEntry ray_table[54]; // by bit number; ghost entries stay empty

extern uint8_t bit_count_table[65536]; // entry i = number of one bits in i

void fill_bit_count_table();
void build_ray_table();

// Square number (1..50) of the lowest set bit; the mask must hold a playable bit.
int square_of_mask(uint64_t mask);
// Pieces of both colours, counted with bit_count_table.
int piece_count(const Position& position);

// The board both sides last agreed on; the conversions below read and write it.
extern ByteBoard current_board;

Position board_to_position();
void position_to_board(const Position& position);
// Takes 50 DXP position characters; a character other than e, w, z, W, Z leaves its square.
void board_from_dxp_text(const char* text);

// The same conversions on any board.
Position position_of_board(const ByteBoard& board);
void board_of_position(const Position& position, ByteBoard& board);

constexpr uint64_t men_of(const Position& p, int white_to_move) {
    return (white_to_move ? p.white : p.black) & ~p.kings;
}
