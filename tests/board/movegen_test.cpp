// Quiet moves, captures and the capture test on hand-made positions: the generation order
// callers rely on, crowning, flying kings, the majority rule, the duplicate rule and paths.
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

using Texts = std::vector<std::string>;

Texts moves_of(const char* fen) {
    int white_to_move;
    const Position p = fen_position(fen, &white_to_move);
    return move_texts(p, white_to_move);
}

std::string joined(const Texts& texts) {
    std::string text;
    for (const std::string& t : texts) text.append(text.empty() ? "" : ", ").append(t);
    return text;
}

// Every case agrees with the reference generator (set, paths, capture test); where a list is
// given, the moves come in exactly that order.
TEST(Generation, ListsInOrderAndAgreesWithTheReference) {
    struct Case {
        const char* fen;
        const char* moves;
    };
    const Case cases[] = {
        // Quiet moves: by direction, then square; men one step, kings until the first piece.
        {"W:W31-50:B1-20", "31-27, 32-28, 33-29, 34-30, 31-26, 32-27, 33-28, 34-29, 35-30"},
        {"B:W31-50:B1-20", "16-21, 17-22, 18-23, 19-24, 20-25, 17-21, 18-22, 19-23, 20-24"},
        {"B:W:BK5", "5-10, 5-14, 5-19, 5-23, 5-28, 5-32, 5-37, 5-41, 5-46"},
        {"W:WK23,K28:B", "23-29, 23-34, 23-40, 23-45, 23-19, 23-14, 23-10, 23-5, 23-18, 23-12, "
                         "23-7, 23-1, 28-33, 28-39, 28-44, 28-50, 28-32, 28-37, 28-41, 28-46, "
                         "28-22, 28-17, 28-11, 28-6"},
        {"B:WK1:B41", "41-47, 41-46"},
        {"W:W:B1-20", ""},
        {"B:W31-50:B", ""},
        // Men take forwards and backwards; white looks up-right, up-left, down-right,
        // down-left, black the other way round; men before kings, then by landing square.
        {"B:W28:B23", "23x32 28"},
        {"B:W23:B28", "28x19 23"},
        {"W:W33:B28", "33x22 28"},
        {"W:W33:B39", "33x44 39"},
        {"W:W33:B38", "33x42 38"},
        {"W:W33:B29", "33x24 29"},
        {"W:W33:B28,29,38,39", "33x24 29, 33x22 28, 33x44 39, 33x42 38"},
        {"B:W28,29,38,39:B33", "33x44 39, 33x42 38, 33x24 29, 33x22 28"},
        {"W:WK1,K3,18,48,33:B7,9,43,29", "33x24 29, 48x39 43, 1x12 7, 3x14 9, 3x20 9, 3x25 9"},
        // The majority rule, for men and kings in either order of discovery.
        {"B:W28,41,42:B23,36", "36x38 41 42"},
        {"W:WK50,33:B44,28,18", "33x13 28 18"},
        {"W:WK46,35:B30,37,23", "46x19 37 23, 46x14 37 23, 46x10 37 23, 46x5 37 23"},
        // A loop taken both ways is one move.
        {"W:W37:B21,22,31,32", "37x37 32 22 21 31"},
        // Kings: every landing square, two pieces on a line, turning across it.
        {"W:WK46:B32", "46x28 32, 46x23 32, 46x19 32, 46x14 32, 46x10 32, 46x5 32"},
        {"W:WK46:B10", "46x5 10"},
        {"W:WK46:B18,32", "46x12 32 18, 46x7 32 18, 46x1 32 18"},
        // Taken pieces stay until the end: from 26, 31 is shielded by 37, still on the board.
        {"W:WK46:B21,22,31,37", "46x26 37 22 21"},
        // Round the loop and over the empty start square 28; the other way round is the same.
        {"W:WK28:B23,24,32,33,34",
         "28x37 33 34 24 23 32, 28x41 33 34 24 23 32, 28x46 33 34 24 23 32"},
        {"W:WK43:B14,18,19,39", "43x22 39 19 18, 43x27 39 19 18, 43x31 39 19 18, "
                                "43x36 39 19 18, 43x22 39 14 18, 43x27 39 14 18, "
                                "43x31 39 14 18, 43x36 39 14 18"},
        // The capture test where nothing can be taken, or something can.
        {"B:W35:B30", nullptr},
        {"W:WK46:B28,32", nullptr},
        {"W:WK46:B5", nullptr},
        {"W:WK46:B32,37", nullptr},
        {"W:W33,22,24,42,44:B28,29,38,39", nullptr},
        {"B:W6,7:BK1", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fen);
        int side, count, n;
        const Position p = fen_position(c.fen, &side);
        check_moves(p, side, count, n);
        if (c.moves) {
            EXPECT_EQ(joined(move_texts(p, side)), c.moves);
        }
    }
}

TEST(QuietMoves, EntriesAreWholePositionsAndMenAreCrowned) {
    const Position start = fen_position("W:W31-50:B1-20");
    ASSERT_EQ(generate_quiet_moves(start, 1, test_list), 9);
    EXPECT_EQ(test_list.entries[1], fen_position("B:W28,31,33-50:B1-20"));
    EXPECT_EQ(moves_of("W:W6:BK50"), Texts{"6-1"});
    EXPECT_EQ(test_list.entries[0], fen_position("B:WK1:BK50"));
    EXPECT_EQ(moves_of("B:WK1:B45"), Texts{"45-50"});
    EXPECT_EQ(test_list.entries[0], fen_position("W:WK1:BK50"));
    moves_of("W:W12:BK50"); // one row short stays a man
    EXPECT_EQ(test_list.entries[0].kings, squares({50}));
    // Quiet moves are listed even where a capture exists (50x39), men before kings.
    const Position p = fen_position("W:WK46,50:B32,44");
    ASSERT_EQ(generate_quiet_moves(p, 1, test_list), 3);
    Texts quiet;
    for (int i = 0; i < 3; i++) {
        const MoveSquares m = move_squares(0, i, 1, p, test_list, nullptr);
        quiet.push_back(std::to_string(square_of_mask(m.from)) + "-" +
                        std::to_string(square_of_mask(m.to)));
    }
    EXPECT_EQ(quiet, (Texts{"50-45", "46-41", "46-37"}));
}

TEST(QuietMoves, MostQuietMovesFoundStillListed) {
    // Kings on all 18 edge squares: 128 moves, the most a search of positions found.
    const Position p =
        fen_position("W:WK1,K2,K3,K4,K5,K6,K15,K16,K25,K26,K35,K36,K45,K46,K47,K48,K49,K50:B");
    int count, n;
    check_moves(p, 1, count, n);
    EXPECT_EQ(count, 128);
}

TEST(Captures, PathsAndCrowningAtTheEnd) {
    moves_of("B:W28:B23");
    EXPECT_EQ(test_paths[0].count, 1);
    EXPECT_EQ(test_paths[0].steps[1], fen_position("W:W:B32"));
    moves_of("B:W41:B37");
    EXPECT_EQ(test_list.entries[0], fen_position("W:W:BK46"));
    EXPECT_EQ(test_paths[0].steps[1], fen_position("W:W:B46"));
    // Passing the last row in the middle of a capture does not crown.
    moves_of("B:W41,42:B36");
    EXPECT_EQ(test_list.entries[0], fen_position("W:W:B38"));
    EXPECT_EQ(test_paths[0].steps[1], fen_position("W:W42:B47"));
    // The loop's path is the one found first: 32 to 28, 22 to 17, 21 to 26, 31 to 37.
    moves_of("W:W37:B21,22,31,32");
    const uint64_t expected[] = {squares({37}), squares({28}), squares({17}), squares({26}),
                                 squares({37})};
    for (int k = 0; k <= 4; k++) EXPECT_EQ(test_paths[0].steps[k].white, expected[k]) << k;
    EXPECT_EQ(test_list.entries[0], fen_position("B:W37:B"));
    // A king stops before a second piece on its line, which is still there.
    moves_of("W:WK46:B23,37");
    for (int i = 0; i < 4; i++) EXPECT_EQ(test_paths[i].steps[1], fen_position("B:WK28:B23"));
    moves_of("W:WK46:B18,32");
    for (int i = 0; i < 3; i++) EXPECT_EQ(test_paths[i].steps[1], fen_position("B:WK23:B18"));
    EXPECT_EQ(test_list.entries[2], fen_position("B:WK1:B"));
    // Going on along the line, the path shows the king on 28, the last square before 32.
    moves_of("W:WK28:B23,24,32,33,34");
    EXPECT_EQ(test_paths[0].steps[4].white, squares({28}));
}

TEST(Captures, PathTakesPieceTellsTwoRoutesApart) {
    EXPECT_EQ(moves_of("W:WK13:B18,30,32,37"), (Texts{"13x25 18 32 30", "13x25 18 37 30"}));
    const uint64_t s18 = squares({18}), s32 = squares({32}), s37 = squares({37});
    EXPECT_TRUE(path_takes_piece(3, 1, s32, test_paths, 0));
    EXPECT_FALSE(path_takes_piece(3, 1, s32, test_paths, 1));
    EXPECT_TRUE(path_takes_piece(3, 1, s37, test_paths, 1));
    EXPECT_TRUE(path_takes_piece(3, 1, s18, test_paths, 0));
    EXPECT_TRUE(path_takes_piece(3, 1, s18, test_paths, 1));
    EXPECT_FALSE(path_takes_piece(1, 1, s32, test_paths, 0)); // only the first n jumps count
    EXPECT_EQ(path_piece_taken(test_paths[0], 3, 1), 0u);     // past the end
    moves_of("W:WK43:B14,18,19,39");
    for (int j = 0; j < 8; j++)
        EXPECT_EQ(path_takes_piece(3, 1, squares({19}), test_paths, j), j < 4);
}

TEST(Captures, RayHasCaptureAndMoveSquaresBounds) {
    const RayEntry& e = ray_table[square_bit[45]]; // square 46, up-right along the long line
    const Position p = fen_position("W:WK46:B32");
    const uint64_t empty = ~(p.black | p.white);
    EXPECT_EQ(ray_has_capture(e.length[2], e.ray[2], empty, p.black), 1);
    EXPECT_EQ(ray_has_capture(e.length[2], e.ray[2], empty, p.white), 0);
    EXPECT_EQ(ray_has_capture(1, e.ray[2], empty, p.black), 0); // too short to hold a capture
    EXPECT_EQ(ray_has_capture(0, e.ray[2], empty, p.black), 0);

    const Position start = fen_position("W:W31-50:B1-20");
    int n = 7;
    EXPECT_EQ(generate_legal_moves(start, 1, test_list, test_paths, n), 9);
    EXPECT_EQ(n, 0);
    const MoveSquares m = move_squares(n, 4, 1, start, test_list, test_paths);
    EXPECT_EQ(m.from, squares({31}));
    EXPECT_EQ(m.to, squares({26}));
    const MoveSquares none = move_squares(n, 9, 1, start, test_list, test_paths);
    EXPECT_EQ(none.from | none.to, 0u);
    EXPECT_EQ(move_squares(2, 0, 1, start, test_list, nullptr).from, 0u);
}

} // namespace
