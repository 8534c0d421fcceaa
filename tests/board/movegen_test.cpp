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

int captures_of(const char* fen) {
    int white_to_move;
    const Position p = fen_position(fen, &white_to_move);
    return generate_captures(p, white_to_move, test_list, test_paths);
}

TEST(QuietMoves, StartPositionOrderForBothSides) {
    EXPECT_EQ(moves_of("W:W31-50:B1-20"), (Texts{"31-27", "32-28", "33-29", "34-30", "31-26",
                                                 "32-27", "33-28", "34-29", "35-30"}));
    EXPECT_EQ(moves_of("B:W31-50:B1-20"), (Texts{"16-21", "17-22", "18-23", "19-24", "20-25",
                                                 "17-21", "18-22", "19-23", "20-24"}));
    // The entry is the whole position after the move.
    const Position start = fen_position("W:W31-50:B1-20");
    ASSERT_EQ(generate_quiet_moves(start, 1, test_list), 9);
    EXPECT_EQ(test_list.entries[1], fen_position("B:W28,31,33-50:B1-20"));
}

TEST(QuietMoves, MenAreCrownedOnTheLastRow) {
    EXPECT_EQ(moves_of("W:W6:BK50"), Texts{"6-1"});
    EXPECT_EQ(test_list.entries[0], fen_position("B:WK1:BK50"));
    EXPECT_EQ(moves_of("B:WK1:B45"), Texts{"45-50"});
    EXPECT_EQ(test_list.entries[0], fen_position("W:WK1:BK50"));
    // Both steps of a man on 41 reach the last row.
    EXPECT_EQ(moves_of("B:WK1:B41"), (Texts{"41-47", "41-46"}));
    EXPECT_EQ(test_list.entries[0].kings, squares({1, 47}));
    EXPECT_EQ(test_list.entries[1].kings, squares({1, 46}));
    // A man one row short stays a man.
    moves_of("W:W12:BK50");
    EXPECT_EQ(test_list.entries[0].kings, squares({50}));
}

TEST(QuietMoves, KingsFlyUntilTheFirstPiece) {
    EXPECT_EQ(moves_of("B:W:BK5"),
              (Texts{"5-10", "5-14", "5-19", "5-23", "5-28", "5-32", "5-37", "5-41", "5-46"}));
    EXPECT_EQ(test_list.entries[8], fen_position("W:W:BK46"));
    EXPECT_EQ(moves_of("W:WK23,K28:B"),
              (Texts{"23-29", "23-34", "23-40", "23-45", "23-19", "23-14", "23-10", "23-5",
                     "23-18", "23-12", "23-7",  "23-1",  "28-33", "28-39", "28-44", "28-50",
                     "28-32", "28-37", "28-41", "28-46", "28-22", "28-17", "28-11", "28-6"}));
    // An opponent piece stops the ray as well, and men come before kings. Quiet moves are
    // listed even where a capture exists (50x39 here).
    const Position p = fen_position("W:WK46,50:B32,44");
    ASSERT_EQ(generate_quiet_moves(p, 1, test_list), 3);
    Texts quiet;
    for (int i = 0; i < 3; i++) {
        const MoveSquares m = move_squares(0, i, 1, p, test_list, nullptr);
        quiet.push_back(std::to_string(square_of_mask(m.from))
                            .append("-")
                            .append(std::to_string(square_of_mask(m.to))));
    }
    EXPECT_EQ(quiet, (Texts{"50-45", "46-41", "46-37"}));
}

TEST(QuietMoves, NoPiecesNoMoves) {
    EXPECT_EQ(generate_quiet_moves(fen_position("W:W:B1-20"), 1, test_list), 0);
    EXPECT_EQ(test_list.count, 0);
    EXPECT_EQ(generate_quiet_moves(fen_position("B:W31-50:B"), 0, test_list), 0);
}

TEST(QuietMoves, MostQuietMovesFoundStillListed) {
    // Kings on all 18 edge squares: 128 moves, the most a search of positions found.
    const Position p =
        fen_position("W:WK1,K2,K3,K4,K5,K6,K15,K16,K25,K26,K35,K36,K45,K46,K47,K48,K49,K50:B");
    ASSERT_EQ(generate_quiet_moves(p, 1, test_list), 128);
    const ReferenceMoves reference = reference_moves(p, 1);
    std::set<std::vector<uint64_t>> listed;
    for (int i = 0; i < test_list.count; i++) listed.insert(key_of(test_list.entries[i]));
    EXPECT_EQ(listed.size(), 128u);
    EXPECT_EQ(listed, reference.results);
}

TEST(ManCaptures, ForwardsBackwardsAndCrowning) {
    EXPECT_EQ(moves_of("B:W28:B23"), Texts{"23x32 28"});
    EXPECT_EQ(test_paths[0].count, 1);
    EXPECT_EQ(test_paths[0].steps[1], fen_position("W:W:B32"));
    EXPECT_EQ(moves_of("B:W23:B28"), Texts{"28x19 23"});
    EXPECT_EQ(moves_of("B:W41:B37"), Texts{"37x46 41"});
    EXPECT_EQ(test_list.entries[0], fen_position("W:W:BK46"));
    EXPECT_EQ(test_paths[0].steps[1], fen_position("W:W:B46"));
    // Passing the last row in the middle of a capture does not crown.
    EXPECT_EQ(moves_of("B:W41,42:B36"), Texts{"36x38 41 42"});
    EXPECT_EQ(test_list.entries[0], fen_position("W:W:B38"));
    EXPECT_EQ(test_paths[0].steps[1], fen_position("W:W42:B47"));
}

TEST(ManCaptures, DirectionOrderPerSide) {
    // White: forwards (up-right, up-left) first, then down-right, down-left.
    EXPECT_EQ(moves_of("W:W33:B28,29,38,39"),
              (Texts{"33x24 29", "33x22 28", "33x44 39", "33x42 38"}));
    EXPECT_EQ(moves_of("B:W28,29,38,39:B33"),
              (Texts{"33x44 39", "33x42 38", "33x24 29", "33x22 28"}));
    // Within a direction by landing square; men before kings whatever their squares.
    EXPECT_EQ(moves_of("W:WK1,K3,18,48,33:B7,9,43,29"),
              (Texts{"33x24 29", "48x39 43", "1x12 7", "3x14 9", "3x20 9", "3x25 9"}));
}

TEST(ManCaptures, MajorityRuleKeepsOnlyTheLongest) {
    EXPECT_EQ(moves_of("B:W28,41,42:B23,36"), Texts{"36x38 41 42"});
    // The longer capture of a man beats a king's shorter one found later...
    EXPECT_EQ(moves_of("W:WK50,33:B44,28,18"), Texts{"33x13 28 18"});
    // ...and a king's longer one drops the men's captures found before it.
    EXPECT_EQ(moves_of("W:WK46,35:B30,37,23"),
              (Texts{"46x19 37 23", "46x14 37 23", "46x10 37 23", "46x5 37 23"}));
}

TEST(ManCaptures, LoopTakenBothWaysIsListedOnce) {
    EXPECT_EQ(moves_of("W:W37:B21,22,31,32"), Texts{"37x37 32 22 21 31"});
    // The path kept is the one found first: over 32 to 28, 22 to 17, 21 to 26, 31 to 37.
    const uint64_t expected[] = {squares({37}), squares({28}), squares({17}), squares({26}),
                                 squares({37})};
    for (int k = 0; k <= 4; k++) EXPECT_EQ(test_paths[0].steps[k].white, expected[k]) << k;
    EXPECT_EQ(test_list.entries[0], fen_position("B:W37:B"));
}

TEST(KingCaptures, LandingSquaresAlongTheLine) {
    EXPECT_EQ(moves_of("W:WK46:B32"),
              (Texts{"46x28 32", "46x23 32", "46x19 32", "46x14 32", "46x10 32", "46x5 32"}));
    EXPECT_EQ(moves_of("W:WK46:B10"), Texts{"46x5 10"});
    EXPECT_EQ(captures_of("W:WK46:B5"), 0);
    EXPECT_EQ(captures_of("W:WK46:B32,37"), 0); // two in a row
}

TEST(KingCaptures, TwoPiecesOnOneLine) {
    EXPECT_EQ(moves_of("W:WK46:B23,37"),
              (Texts{"46x19 37 23", "46x14 37 23", "46x10 37 23", "46x5 37 23"}));
    for (int i = 0; i < 4; i++) {
        // The king stops before the second piece, which is still there.
        EXPECT_EQ(test_paths[i].steps[1], fen_position("B:WK28:B23")) << i;
    }
}

TEST(KingCaptures, TurningAcrossTheLine) {
    EXPECT_EQ(moves_of("W:WK46:B18,32"), (Texts{"46x12 32 18", "46x7 32 18", "46x1 32 18"}));
    for (int i = 0; i < 3; i++) EXPECT_EQ(test_paths[i].steps[1], fen_position("B:WK23:B18"));
    EXPECT_EQ(test_list.entries[2], fen_position("B:WK1:B"));
}

TEST(KingCaptures, TakenPiecesStayUntilTheEnd) {
    // 37, 22 and 21 are taken and the king ends on 26. From there 31 lies on its way, but
    // 37 behind it is still on the board, so 31 cannot be taken.
    EXPECT_EQ(moves_of("W:WK46:B21,22,31,37"), Texts{"46x26 37 22 21"});
}

TEST(KingCaptures, TheKingMayCrossItsStartingSquare) {
    // Round the loop 33, 34, 24, 23 and on over the empty start square 28 to take 32. The
    // same pieces taken the other way round (23 first) reach the same squares: listed once.
    EXPECT_EQ(moves_of("W:WK28:B23,24,32,33,34"),
              (Texts{"28x37 33 34 24 23 32", "28x41 33 34 24 23 32", "28x46 33 34 24 23 32"}));
    // Going on along the line, the path shows the king on 28, the last square before 32.
    EXPECT_EQ(test_paths[0].steps[4].white, squares({28}));
}

TEST(KingCaptures, PathsOfTwoCapturesToTheSameSquare) {
    EXPECT_EQ(moves_of("W:WK13:B18,30,32,37"), (Texts{"13x25 18 32 30", "13x25 18 37 30"}));
    const uint64_t s18 = squares({18}), s32 = squares({32}), s37 = squares({37});
    EXPECT_TRUE(path_takes_piece(3, 1, s32, test_paths, 0));
    EXPECT_FALSE(path_takes_piece(3, 1, s32, test_paths, 1));
    EXPECT_TRUE(path_takes_piece(3, 1, s37, test_paths, 1));
    EXPECT_TRUE(path_takes_piece(3, 1, s18, test_paths, 0));
    EXPECT_TRUE(path_takes_piece(3, 1, s18, test_paths, 1));
    // Only the first n jumps count.
    EXPECT_FALSE(path_takes_piece(1, 1, s32, test_paths, 0));
    EXPECT_EQ(path_piece_taken(test_paths[0], 3, 1), 0u); // past the end
}

TEST(KingCaptures, EightCapturesOverTwoRoutes) {
    EXPECT_EQ(moves_of("W:WK43:B14,18,19,39"),
              (Texts{"43x22 39 19 18", "43x27 39 19 18", "43x31 39 19 18", "43x36 39 19 18",
                     "43x22 39 14 18", "43x27 39 14 18", "43x31 39 14 18", "43x36 39 14 18"}));
    const uint64_t s19 = squares({19});
    for (int j = 0; j < 8; j++) EXPECT_EQ(path_takes_piece(3, 1, s19, test_paths, j), j < 4);
}

TEST(Captures, NoCaptureLeavesTheListEmpty) {
    EXPECT_EQ(captures_of("W:W31-50:B1-20"), 0);
    EXPECT_EQ(test_list.count, 0);
    EXPECT_EQ(captures_of("W:W:B1-20"), 0);
    int n = 7;
    EXPECT_EQ(generate_legal_moves(fen_position("W:W31-50:B1-20"), 1, test_list, nullptr, n), 9);
    EXPECT_EQ(n, 0);
}

TEST(Captures, WithoutPathsTheListIsTheSame) {
    const char* fens[] = {"W:WK43:B14,18,19,39", "W:W37:B21,22,31,32", "W:WK50,33:B44,28,18",
                          "B:W28,41,42:B23,36"};
    static MoveList plain;
    for (const char* fen : fens) {
        int side;
        const Position p = fen_position(fen, &side);
        const int with = generate_captures(p, side, test_list, test_paths);
        ASSERT_EQ(generate_captures(p, side, plain, nullptr), with) << fen;
        for (int i = 0; i < with; i++) EXPECT_EQ(plain.entries[i], test_list.entries[i]) << fen;
    }
}

TEST(CaptureTest, AgreesWithTheCases) {
    struct Case {
        const char* fen;
        int expected;
    };
    const Case cases[] = {
        {"B:W28:B23", 1},
        {"B:W23:B28", 1},
        {"W:W28:B23", 1},
        {"B:W35:B30", 0},
        {"W:WK46:B32", 1},
        {"W:WK46:B28,32", 0},
        {"W:WK46:B5", 0},
        {"W:WK46:B32,37", 0},
        {"W:W:B1-20", 0},
        {"W:W31-50:B1-20", 0},
        {"W:W37:B21,22,31,32", 1},
        {"B:W6,7:BK1", 1},
        {"W:W33:B28", 1},
        {"W:W33:B39", 1},
        {"W:W33:B38", 1},
        {"W:W33:B29", 1},
        {"W:W33,22,24,42,44:B28,29,38,39", 0},
    };
    for (const Case& c : cases) {
        int side;
        const Position p = fen_position(c.fen, &side);
        EXPECT_EQ(side_has_capture(p, side), c.expected) << c.fen;
        EXPECT_EQ(generate_captures(p, side, test_list, nullptr) > 0, c.expected == 1) << c.fen;
    }
}

TEST(CaptureTest, RayHasCapture) {
    const RayEntry& e = ray_table[square_bit[45]]; // square 46, up-right along the long line
    const Position p = fen_position("W:WK46:B32");
    const uint64_t empty = ~(p.black | p.white);
    EXPECT_EQ(ray_has_capture(e.length[2], e.ray[2], empty, p.black), 1);
    EXPECT_EQ(ray_has_capture(e.length[2], e.ray[2], empty, p.white), 0);
    EXPECT_EQ(ray_has_capture(1, e.ray[2], empty, p.black), 0); // too short to hold a capture
    EXPECT_EQ(ray_has_capture(0, e.ray[2], empty, p.black), 0);
}

TEST(MoveSquares, QuietAndOutOfRange) {
    const Position start = fen_position("W:W31-50:B1-20");
    int n;
    generate_legal_moves(start, 1, test_list, test_paths, n);
    const MoveSquares m = move_squares(n, 4, 1, start, test_list, test_paths);
    EXPECT_EQ(m.from, squares({31}));
    EXPECT_EQ(m.to, squares({26}));
    const MoveSquares none = move_squares(n, 9, 1, start, test_list, test_paths);
    EXPECT_EQ(none.from | none.to, 0u);
    EXPECT_EQ(move_squares(2, 0, 1, start, test_list, nullptr).from, 0u);
}

} // namespace
