// Legal move lookup by squares, the draw rules and DXP position texts.
#include <cstring>

#include "tests/tools/support.h"

namespace {

LegalMoves legal;
GameRecord game;

TEST(FindMove, CapturedSquaresAreASetButMustBeExact) {
    int wtm = 0;
    Position p = fen_position("W:WK13:B18,30,32,37", wtm);
    list_legal_moves(p, wtm, legal);
    ASSERT_EQ(legal.count, 2);
    ASSERT_EQ(legal.taken, 3);
    int a = listed(legal, 13, 25, {18, 32, 30});
    int b = listed(legal, 13, 25, {18, 37, 30});
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(listed(legal, 13, 25, {30, 18, 32}), a); // any order
    EXPECT_EQ(listed(legal, 13, 25, {32, 30, 18}), a);
    EXPECT_EQ(listed(legal, 13, 25, {18, 32}), -1);         // too few
    EXPECT_EQ(listed(legal, 13, 25, {18, 32, 30, 37}), -1); // too many
    EXPECT_EQ(listed(legal, 13, 25, {18, 18, 30}), -1);     // one named twice
    EXPECT_EQ(listed(legal, 13, 25, {18, 32, 29}), -1);     // one it does not take
    EXPECT_EQ(listed(legal, 13, 24, {18, 32, 30}), -1);     // wrong landing
    EXPECT_EQ(listed(legal, 13, 25, {18, 32, 0}), -1);      // not a square
    EXPECT_EQ(listed(legal, 13, 25, {18, 32, 51}), -1);
    EXPECT_TRUE(move_is_ambiguous(legal, a));
    EXPECT_TRUE(move_is_ambiguous(legal, b));

    GameMove move;
    describe_move(legal, a, move);
    EXPECT_EQ(move.from, 13);
    EXPECT_EQ(move.to, 25);
    ASSERT_EQ(move.capture_count, 3);
    EXPECT_EQ(move.captured[0], 18); // in the order taken
    EXPECT_EQ(move.captured[1], 32);
    EXPECT_EQ(move.captured[2], 30);
}

TEST(FindMove, QuietMovesTakeNoCapturedSquares) {
    list_legal_moves(standard_start_position, 1, legal);
    ASSERT_EQ(legal.count, 9);
    int i = listed(legal, 32, 28);
    ASSERT_GE(i, 0);
    EXPECT_FALSE(move_is_ambiguous(legal, i));
    EXPECT_EQ(listed(legal, 32, 28, {23}), -1);
    EXPECT_GE(listed(legal, 32, 27), 0);
    EXPECT_EQ(listed(legal, 32, 23), -1);
    EXPECT_EQ(listed(legal, 19, 23), -1); // black's move, white to play
}

TEST(DrawRules, ThreefoldRepetitionCountsOnlyTheSameSideToMove) {
    int wtm = 0;
    Position start = fen_position("W:WK1:BK50", wtm);
    start_game(game, start, wtm, true);
    const int cycle[4][2] = {{1, 7}, {50, 44}, {7, 1}, {44, 50}};
    for (int round = 0; round < 2; ++round)
        for (int k = 0; k < 4; ++k) {
            EXPECT_FALSE(is_threefold_repetition(game)) << "after ply " << game.ply_count;
            play(game, legal, cycle[k][0], cycle[k][1]);
        }
    // The start position stood there at plies 0, 4 and 8.
    EXPECT_EQ(game.ply_count, 8);
    EXPECT_TRUE(is_threefold_repetition(game));
    // One more move: the position after 1-7 has been seen at plies 1, 5 and now 9.
    play(game, legal, 1, 7);
    EXPECT_TRUE(is_threefold_repetition(game));
    play(game, legal, 50, 45);
    EXPECT_FALSE(is_threefold_repetition(game));
}

TEST(DrawRules, KingsOnlyCountStopsAtAManMoveOrACapture) {
    int wtm = 0;
    Position start = fen_position("W:WK1,35:BK50", wtm);
    start_game(game, start, wtm, true);
    const int cycle[4][2] = {{1, 7}, {50, 44}, {7, 1}, {44, 50}};
    for (int i = 0; i < 48; ++i) play(game, legal, cycle[i % 4][0], cycle[i % 4][1]);
    EXPECT_EQ(kings_only_plies(game), 48);
    play(game, legal, 1, 7);
    EXPECT_EQ(kings_only_plies(game), 49);
    EXPECT_LT(kings_only_plies(game), kings_only_draw_plies);
    play(game, legal, 50, 44);
    EXPECT_EQ(kings_only_plies(game), kings_only_draw_plies);
    play(game, legal, 35, 30); // a man moves
    EXPECT_EQ(kings_only_plies(game), 0);
    play(game, legal, 44, 50);
    EXPECT_EQ(kings_only_plies(game), 1);

    // A capture resets the count as well.
    start = fen_position("W:WK50:BK3,23", wtm);
    start_game(game, start, wtm, true);
    play(game, legal, 50, 45);
    play(game, legal, 3, 9);
    EXPECT_EQ(kings_only_plies(game), 2);
    play(game, legal, 45, 4, {23, 9});
    EXPECT_EQ(kings_only_plies(game), 0);
}

TEST(DxpPositionText, RoundTripAndBadCharacters) {
    ensure_tables();
    char text[51] = {};
    position_to_dxp_text(standard_start_position, text);
    EXPECT_STREQ(text, "zzzzzzzzzzzzzzzzzzzz"
                       "eeeeeeeeee"
                       "wwwwwwwwwwwwwwwwwwww");
    int wtm = 0;
    Position p = fen_position("W:WK45,31:BK3,12", wtm);
    position_to_dxp_text(p, text);
    EXPECT_EQ(text[44], 'W');
    EXPECT_EQ(text[30], 'w');
    EXPECT_EQ(text[2], 'Z');
    EXPECT_EQ(text[11], 'z');
    Position back{};
    EXPECT_FALSE(position_from_dxp_text(text, back));
    EXPECT_EQ(back, p);
    text[20] = 'x';
    EXPECT_TRUE(position_from_dxp_text(text, back));
}

} // namespace
