// Square numbering, the constant tables and the conversions between the board forms.
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

std::string ray_text(int square, int direction) {
    const RayEntry& entry = ray_table[square_bit[square - 1]];
    std::string text;
    for (int i = 0; i < entry.length[direction]; i++)
        text.append(i ? " " : "").append(std::to_string(square_of_mask(entry.ray[direction][i])));
    return text;
}

TEST(SquareTables, BitLayoutAndInverse) {
    EXPECT_EQ(square_bit[10], 11); // square 11 skips ghost bit 10
    EXPECT_EQ(square_bit[30], 33);
    EXPECT_EQ(square_bit[49], 53);
    uint64_t all = 0;
    for (int i = 0; i < 50; i++) {
        EXPECT_EQ(square_mask[i], 1ull << square_bit[i]);
        EXPECT_EQ(bit_square[square_bit[i]], i);
        EXPECT_EQ(square_of_mask(square_mask[i] | square_mask[49]), i + 1); // the lowest
        all |= square_mask[i];
    }
    EXPECT_EQ(all, board_mask);
    for (int ghost : {10, 21, 32, 43}) EXPECT_FALSE(all & (1ull << ghost));
    // The step, jump, interior and promotion masks are checked through move generation
    // against the reference generator.
}

TEST(RayTable, EveryRayStepsDiagonallyToTheEdge) {
    int empty = 0, nine = 0;
    for (int s = 1; s <= 50; s++) {
        const RayEntry& entry = ray_table[square_bit[s - 1]];
        for (int d = 0; d < 4; d++) {
            ASSERT_GE(entry.length[d], 0);
            ASSERT_LE(entry.length[d], 9);
            empty += entry.length[d] == 0;
            nine += entry.length[d] == 9;
            uint64_t previous = square_mask[s - 1];
            for (int i = 0; i < entry.length[d]; i++) {
                const uint64_t next = d == 0   ? previous << 6
                                      : d == 1 ? previous << 5
                                      : d == 2 ? previous >> 5
                                               : previous >> 6;
                ASSERT_EQ(entry.ray[d][i], next) << "square " << s << " direction " << d;
                previous = next;
            }
        }
    }
    EXPECT_EQ(empty, 38);
    EXPECT_EQ(nine, 2);
    for (int ghost : {10, 21, 32, 43})
        for (int d = 0; d < 4; d++) EXPECT_EQ(ray_table[ghost].length[d], 0);
    EXPECT_EQ(ray_text(5, 1), "10 14 19 23 28 32 37 41 46");
}

TEST(BitCount, TableAndPieceCount) {
    for (uint32_t i = 0; i < 65536; i += 97)
        EXPECT_EQ(bit_count_table[i], __builtin_popcount(i)) << i;
    EXPECT_EQ(bit_count_table[0xFFFF], 16);
    EXPECT_EQ(piece_count(fen_position("W:W31-50:B1-20")), 40);
    EXPECT_EQ(piece_count(fen_position("B:WK50:B1")), 2);
}

TEST(Conversions, ByteBoardAndPosition) {
    ByteBoard board;
    for (int i = 0; i < 50; i++) board[i] = static_cast<int8_t>((i * 7) % 5 - 2);
    current_board = board;
    const Position p = board_to_position();
    EXPECT_EQ(p.black & p.white, 0u);
    EXPECT_EQ(p.kings & ~(p.black | p.white), 0u);
    current_board.fill(9);
    position_to_board(p);
    EXPECT_EQ(current_board, board);
    // Out-of-range bytes count as empty.
    board[3] = 5;
    board[4] = -7;
    EXPECT_FALSE((position_of_board(board).black | position_of_board(board).white) &
                 squares({4, 5}));

    board_of_position(fen_position("W:W31,K45:B2,K12"), board);
    ByteBoard expected{};
    expected[30] = 1, expected[44] = 2, expected[1] = -1, expected[11] = -2;
    EXPECT_EQ(board, expected);
    // A king bit without a piece is no piece.
    board_of_position(Position{0, 0, squares({7})}, board);
    EXPECT_EQ(board[6], 0);
}

TEST(Conversions, DxpTextKeepsSquaresWithUnknownCharacters) {
    current_board.fill(0);
    current_board[6] = -2;
    std::string text(50, 'e');
    text.replace(0, 4, "wWzZ");
    text[6] = '?';
    board_from_dxp_text(text.c_str());
    ByteBoard expected{};
    expected[0] = 1, expected[1] = 2, expected[2] = -1, expected[3] = -2;
    expected[6] = -2; // left as it was
    EXPECT_EQ(current_board, expected);
    // A short text stops at its end instead of reading past it.
    current_board.fill(1);
    board_from_dxp_text("zz");
    EXPECT_EQ(current_board[0], -1);
    EXPECT_EQ(current_board[1], -1);
    EXPECT_EQ(current_board[2], 1);
}

} // namespace
