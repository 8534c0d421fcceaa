// Square numbering, the constant tables and the conversions between the board forms.
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

std::string ray_text(int square, int direction) {
    const RayEntry& entry = ray_table[square_bit[square - 1]];
    std::string text;
    for (int i = 0; i < entry.length[direction]; i++) {
        if (!text.empty()) text += ' ';
        text += std::to_string(square_of_mask(entry.ray[direction][i]));
    }
    return text;
}

TEST(SquareTables, BitLayoutAndInverse) {
    EXPECT_EQ(square_bit[0], 0);
    EXPECT_EQ(square_bit[10], 11); // square 11 skips ghost bit 10
    EXPECT_EQ(square_bit[30], 33);
    EXPECT_EQ(square_bit[49], 53);
    uint64_t all = 0;
    for (int i = 0; i < 50; i++) {
        EXPECT_EQ(square_mask[i], 1ull << square_bit[i]);
        EXPECT_EQ(bit_square[square_bit[i]], i);
        all |= square_mask[i];
    }
    EXPECT_EQ(all, board_mask);
    for (int ghost : {10, 21, 32, 43}) EXPECT_FALSE(all & (1ull << ghost));
}

TEST(SquareTables, StepAndJumpMasksNameTheRightSquares) {
    EXPECT_EQ(square_list(board_mask & ~step6_mask), "5 15 25 35 45 46 47 48 49 50");
    EXPECT_EQ(square_list(board_mask & ~step5_mask), "6 16 26 36 46 47 48 49 50");
    EXPECT_EQ(square_list(board_mask & ~interior_mask),
              "1 2 3 4 5 6 15 16 25 26 35 36 45 46 47 48 49 50");
    EXPECT_EQ(square_list(black_promotion_mask), "46 47 48 49 50");
    EXPECT_EQ(square_list(white_promotion_mask), "1 2 3 4 5");
    EXPECT_EQ(square_list(board_mask & ~jump_mask[0]),
              "5 10 15 20 25 30 35 40 41 42 43 44 45 46 47 48 49 50");
    EXPECT_EQ(square_list(board_mask & ~jump_mask[3]),
              "1 2 3 4 5 6 7 8 9 10 11 16 21 26 31 36 41 46");
}

TEST(RayTable, SampleRays) {
    EXPECT_EQ(ray_text(28, 0), "33 39 44 50");
    EXPECT_EQ(ray_text(28, 1), "32 37 41 46");
    EXPECT_EQ(ray_text(28, 2), "23 19 14 10 5");
    EXPECT_EQ(ray_text(28, 3), "22 17 11 6");
    EXPECT_EQ(ray_text(5, 1), "10 14 19 23 28 32 37 41 46");
    for (int d : {0, 2, 3}) EXPECT_EQ(ray_text(5, d), "");
    EXPECT_EQ(ray_text(46, 2), "41 37 32 28 23 19 14 10 5");
    EXPECT_EQ(ray_text(1, 0), "7 12 18 23 29 34 40 45");
    EXPECT_EQ(ray_text(1, 1), "6");
    EXPECT_EQ(ray_text(1, 2), "");
    EXPECT_EQ(ray_text(1, 3), "");
    EXPECT_EQ(ray_text(50, 2), "45");
    EXPECT_EQ(ray_text(50, 3), "44 39 33 28 22 17 11 6");
}

TEST(RayTable, ShapeOfAllRays) {
    int empty = 0, nine = 0;
    for (int s = 1; s <= 50; s++) {
        const RayEntry& entry = ray_table[square_bit[s - 1]];
        for (int d = 0; d < 4; d++) {
            ASSERT_GE(entry.length[d], 0);
            ASSERT_LE(entry.length[d], 9);
            empty += entry.length[d] == 0;
            nine += entry.length[d] == 9;
            // Each square of a ray is one diagonal step beyond the one before it.
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
}

TEST(SquareOfMask, LowestSquareAcrossTheHalves) {
    EXPECT_EQ(square_of_mask(squares({12, 40})), 12);
    EXPECT_EQ(square_of_mask(squares({31})), 31); // bit 33, the first one above 32
    EXPECT_EQ(square_of_mask(squares({30})), 30); // bit 31
    EXPECT_EQ(square_of_mask(squares({50})), 50);
    EXPECT_EQ(square_of_mask(squares({1, 50})), 1);
    for (int s = 1; s <= 50; s++) EXPECT_EQ(square_of_mask(square_mask[s - 1]), s);
}

TEST(BitCount, TableAndPieceCount) {
    EXPECT_EQ(bit_count_table[0], 0);
    EXPECT_EQ(bit_count_table[0xFFFF], 16);
    EXPECT_EQ(bit_count_table[0x8001], 2);
    for (uint32_t i = 0; i < 65536; i += 97)
        EXPECT_EQ(bit_count_table[i], __builtin_popcount(i)) << i;
    EXPECT_EQ(piece_count(fen_position("W:W31-50:B1-20")), 40);
    EXPECT_EQ(piece_count(fen_position("B:WK50:B1")), 2);
    EXPECT_EQ(piece_count(Position{0, 0, 0}), 0);
}

TEST(Conversions, ByteBoardRoundTrip) {
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
    const Position q = position_of_board(board);
    EXPECT_FALSE((q.black | q.white) & squares({4, 5}));
}

TEST(Conversions, PositionToBoardValues) {
    const Position p = fen_position("W:W31,K45:B2,K12");
    ByteBoard board;
    board_of_position(p, board);
    EXPECT_EQ(board[30], 1);
    EXPECT_EQ(board[44], 2);
    EXPECT_EQ(board[1], -1);
    EXPECT_EQ(board[11], -2);
    int pieces = 0;
    for (int8_t v : board) pieces += v != 0;
    EXPECT_EQ(pieces, 4);
    // A king bit without a piece is no piece.
    board_of_position(Position{0, 0, squares({7})}, board);
    EXPECT_EQ(board[6], 0);
}

TEST(Conversions, DxpTextKeepsSquaresWithUnknownCharacters) {
    current_board.fill(0);
    current_board[6] = -2;
    std::string text(50, 'e');
    text[0] = 'w';
    text[1] = 'W';
    text[2] = 'z';
    text[3] = 'Z';
    text[6] = '?';
    board_from_dxp_text(text.c_str());
    EXPECT_EQ(current_board[0], 1);
    EXPECT_EQ(current_board[1], 2);
    EXPECT_EQ(current_board[2], -1);
    EXPECT_EQ(current_board[3], -2);
    EXPECT_EQ(current_board[6], -2); // left as it was
    for (int i = 7; i < 50; i++) EXPECT_EQ(current_board[i], 0);
    // A short text stops at its end instead of reading past it.
    current_board.fill(1);
    board_from_dxp_text("zz");
    EXPECT_EQ(current_board[0], -1);
    EXPECT_EQ(current_board[1], -1);
    EXPECT_EQ(current_board[2], 1);
}

} // namespace
