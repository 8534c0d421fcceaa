// Legal move lookup by squares, the draw rules and DXP position texts.
#include "tests/tools/support.h"

namespace {

LegalMoves legal;
GameRecord game;

TEST(FindMove, CapturedSquaresAreAnExactSetAndQuietMovesTakeNone) {
    int wtm = 0;
    Position p = fen_position("W:WK13:B18,30,32,37", wtm);
    list_legal_moves(p, wtm, legal);
    ASSERT_EQ(legal.count, 2);
    ASSERT_EQ(legal.taken, 3);
    const int a = listed(legal, 13, 25, {18, 32, 30});
    const int b = listed(legal, 13, 25, {18, 37, 30});
    ASSERT_TRUE(a >= 0 && b >= 0 && a != b);
    EXPECT_TRUE(move_is_ambiguous(legal, a) && move_is_ambiguous(legal, b));
    const struct {
        int to;
        std::initializer_list<int> taken;
        int expected;
    } cases[] = {
        {25, {30, 18, 32}, a},  {25, {32, 30, 18}, a},      // any order
        {25, {18, 32}, -1},     {25, {18, 32, 30, 37}, -1}, // too few, too many
        {25, {18, 18, 30}, -1}, {25, {18, 32, 29}, -1},     // one twice, one not taken
        {24, {18, 32, 30}, -1}, {25, {18, 32, 0}, -1},      // wrong landing, not a square
        {25, {18, 32, 51}, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(listed(legal, 13, c.to, c.taken), c.expected) << c.to;
    GameMove move;
    describe_move(legal, a, move);
    ASSERT_EQ(move.capture_count, 3);
    EXPECT_TRUE(move.from == 13 && move.to == 25);
    EXPECT_TRUE(move.captured[0] == 18 && move.captured[1] == 32 && move.captured[2] == 30)
        << "in the order taken";

    list_legal_moves(standard_start_position, 1, legal);
    ASSERT_EQ(legal.count, 9);
    const int quiet = listed(legal, 32, 28);
    ASSERT_GE(quiet, 0);
    EXPECT_FALSE(move_is_ambiguous(legal, quiet));
    EXPECT_GE(listed(legal, 32, 27), 0);
    EXPECT_EQ(listed(legal, 32, 28, {23}), -1);
    EXPECT_EQ(listed(legal, 32, 23), -1);
    EXPECT_EQ(listed(legal, 19, 23), -1); // black's move, white to play
}

void start(const char* fen) {
    int wtm = 0;
    Position p = fen_position(fen, wtm);
    start_game(game, p, wtm, true);
}

// Ply i of two kings shuttling between 1-7 and 50-44.
void shuttle(int i) {
    const int cycle[4][2] = {{1, 7}, {50, 44}, {7, 1}, {44, 50}};
    play(game, legal, cycle[i % 4][0], cycle[i % 4][1]);
}

TEST(DrawRules, ThreefoldRepetitionCountsOnlyTheSameSideToMove) {
    start("W:WK1:BK50");
    for (int i = 0; i < 8; ++i) {
        EXPECT_FALSE(is_threefold_repetition(game)) << "after ply " << i;
        shuttle(i);
    }
    EXPECT_TRUE(is_threefold_repetition(game)); // the start, at plies 0, 4 and 8
    play(game, legal, 1, 7);                    // after 1-7: plies 1, 5 and 9
    EXPECT_TRUE(is_threefold_repetition(game));
    play(game, legal, 50, 45);
    EXPECT_FALSE(is_threefold_repetition(game));
}

TEST(DrawRules, KingsOnlyCountStopsAtAManMoveOrACapture) {
    start("W:WK1,35:BK50");
    for (int i = 0; i < 49; ++i) shuttle(i);
    EXPECT_EQ(kings_only_plies(game), 49);
    EXPECT_LT(kings_only_plies(game), kings_only_draw_plies);
    play(game, legal, 50, 44);
    EXPECT_EQ(kings_only_plies(game), kings_only_draw_plies);
    play(game, legal, 35, 30); // a man moves
    EXPECT_EQ(kings_only_plies(game), 0);
    play(game, legal, 44, 50);
    EXPECT_EQ(kings_only_plies(game), 1);

    start("W:WK50:BK3,23"); // a capture resets the count as well
    play(game, legal, 50, 45);
    play(game, legal, 3, 9);
    EXPECT_EQ(kings_only_plies(game), 2);
    play(game, legal, 45, 4, {23, 9});
    EXPECT_EQ(kings_only_plies(game), 0);
}

TEST(DxpPositionText, RoundTripAndBadCharacters) {
    char text[51] = {};
    position_to_dxp_text(standard_start_position, text);
    EXPECT_STREQ(text, "zzzzzzzzzzzzzzzzzzzzeeeeeeeeeewwwwwwwwwwwwwwwwwwww");
    int wtm = 0;
    Position p = fen_position("W:WK45,31:BK3,12", wtm);
    position_to_dxp_text(p, text);
    EXPECT_TRUE(text[44] == 'W' && text[30] == 'w' && text[2] == 'Z' && text[11] == 'z') << text;
    Position back{};
    EXPECT_FALSE(position_from_dxp_text(text, back));
    EXPECT_EQ(back, p);
    text[20] = 'x';
    EXPECT_TRUE(position_from_dxp_text(text, back));
}

} // namespace
