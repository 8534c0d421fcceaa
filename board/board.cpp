// Square tables, the ray table, the piece-count table and the conversions between the
// board forms.
#include "board/board.h"

namespace {

constexpr int bit_of_square_index(int i) {
    return i + i / 10;
}

constexpr std::array<uint64_t, 50> make_square_masks() {
    std::array<uint64_t, 50> masks{};
    for (int i = 0; i < 50; i++) masks[i] = 1ull << bit_of_square_index(i);
    return masks;
}

constexpr std::array<uint8_t, 50> make_square_bits() {
    std::array<uint8_t, 50> bits{};
    for (int i = 0; i < 50; i++) bits[i] = static_cast<uint8_t>(bit_of_square_index(i));
    return bits;
}

constexpr std::array<uint8_t, 54> make_bit_squares() {
    std::array<uint8_t, 54> squares{};
    for (int i = 0; i < 50; i++) squares[bit_of_square_index(i)] = static_cast<uint8_t>(i);
    return squares;
}

constexpr auto square_masks = make_square_masks();
constexpr auto square_bits = make_square_bits();
constexpr auto bit_squares = make_bit_squares();

// The step masks and the promotion masks must say what the bit layout says.
constexpr bool masks_agree_with_layout() {
    uint64_t all = 0, step6 = 0, step5 = 0, interior = 0;
    for (int i = 0; i < 50; i++) {
        int row = i / 5, col = 2 * (i % 5) + (row % 2 == 0 ? 1 : 0);
        uint64_t m = square_masks[i];
        all |= m;
        if (row < 9 && col < 9) step6 |= m;
        if (row < 9 && col > 0) step5 |= m;
        if (row > 0 && row < 9 && col > 0 && col < 9) interior |= m;
    }
    return all == board_mask && step6 == step6_mask && step5 == step5_mask &&
           interior == interior_mask;
}
static_assert(masks_agree_with_layout());
static_assert(black_promotion_mask == (square_masks[45] | square_masks[46] | square_masks[47] |
                                       square_masks[48] | square_masks[49]));
static_assert(white_promotion_mask == (square_masks[0] | square_masks[1] | square_masks[2] |
                                       square_masks[3] | square_masks[4]));

} // namespace

const std::array<uint64_t, 50> square_mask = square_masks;
const std::array<uint8_t, 50> square_bit = square_bits;
const std::array<uint8_t, 54> bit_square = bit_squares;

RayEntry ray_table[54];
uint8_t bit_count_table[65536];
ByteBoard current_board;

void fill_bit_count_table() {
    for (uint32_t i = 0; i < 65536; i++) {
        uint32_t v = i;
        uint8_t n = 0;
        while (v != 0) {
            v &= v - 1;
            n++;
        }
        bit_count_table[i] = n;
    }
}

void build_ray_table() {
    // Column and row steps of directions 0 to 3: down-right, down-left, up-right, up-left.
    static const int column_step[4] = {1, -1, 1, -1};
    static const int row_step[4] = {1, 1, -1, -1};
    for (RayEntry& entry : ray_table) entry = RayEntry{};
    for (int i = 0; i < 50; i++) {
        int row = i / 5;
        int column = 2 * (i % 5) + (row % 2 == 0 ? 1 : 0);
        RayEntry& entry = ray_table[square_bit[i]];
        for (int d = 0; d < 4; d++) {
            entry.length[d] = 0;
            int c = column + column_step[d], r = row + row_step[d];
            while (c >= 0 && c <= 9 && r >= 0 && r <= 9) {
                entry.ray[d][entry.length[d]++] = square_mask[r * 5 + c / 2];
                c += column_step[d];
                r += row_step[d];
            }
        }
    }
}

int square_of_mask(uint64_t mask) {
    uint32_t low = static_cast<uint32_t>(mask);
    int bit;
    if (low != 0) {
        bit = __builtin_ctz(low);
    } else {
        uint32_t high = static_cast<uint32_t>(mask >> 32);
        // A mask without a playable bit is a caller's error; answer square 1 rather than
        // read outside the table.
        if (high == 0) return 1;
        bit = 32 + __builtin_ctz(high);
    }
    if (bit >= 54) return 1;
    return bit_square[bit] + 1;
}

int piece_count(const Position& position) {
    uint64_t all = position.black | position.white;
    return bit_count_table[all & 0xFFFF] + bit_count_table[(all >> 16) & 0xFFFF] +
           bit_count_table[(all >> 32) & 0xFFFF] + bit_count_table[all >> 48];
}

Position position_of_board(const ByteBoard& board) {
    Position p{0, 0, 0};
    for (int i = 0; i < 50; i++) {
        uint64_t m = square_mask[i];
        switch (board[i]) {
        case -2:
            p.black |= m;
            p.kings |= m;
            break;
        case -1:
            p.black |= m;
            break;
        case 1:
            p.white |= m;
            break;
        case 2:
            p.white |= m;
            p.kings |= m;
            break;
        default:
            break;
        }
    }
    return p;
}

void board_of_position(const Position& position, ByteBoard& board) {
    for (int i = 0; i < 50; i++) {
        uint64_t m = square_mask[i];
        int8_t v = 0;
        if (position.black & m)
            v = (position.kings & m) ? -2 : -1;
        else if (position.white & m)
            v = (position.kings & m) ? 2 : 1;
        board[i] = v;
    }
}

Position board_to_position() {
    return position_of_board(current_board);
}

void position_to_board(const Position& position) {
    board_of_position(position, current_board);
}

void board_from_dxp_text(const char* text) {
    // Stops at a terminating zero, so a short text cannot be read past its end.
    for (int i = 0; i < 50 && text[i] != '\0'; i++) {
        switch (text[i]) {
        case 'W':
            current_board[i] = 2;
            break;
        case 'Z':
            current_board[i] = -2;
            break;
        case 'e':
            current_board[i] = 0;
            break;
        case 'w':
            current_board[i] = 1;
            break;
        case 'z':
            current_board[i] = -1;
            break;
        default:
            break;
        }
    }
}
