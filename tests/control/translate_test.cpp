// Move translation: Kavro's board into the MOVE the client gets, the client's MOVE into the
// command Kavro types.
#include "tests/control/control_test_support.h"

namespace {

const char* const start_fen = "W:W31-50:B1-20";
const char* const king13 = "W:WK13:B18,30,32,37"; // two captures 13x25, told apart by 32/37

class TranslateTest : public ControlTest {
  protected:
    std::string command_for(const DxpMessage& move) {
        char command[16] = "unset";
        if (run([&] { translate_received_move(move, command); })) return "stopped";
        return command;
    }
    // Kavro, playing colour from fen, shows after; the server sends its move.
    bool kavro_moves(const char* fen, int32_t colour, const char* after, bool pv = false) {
        start_game(fen, colour);
        kavro.show_board(board_from_fen(after), after[0] == 'W');
        return run([pv] { send_kavro_move(pv); });
    }
};

TEST_F(TranslateTest, KavroMoveIsSentEchoedWithCapturesInTheOrderTaken) {
    struct Case {
        const char *fen, *after, *sent;
        int32_t colour;
    } cases[] = {{start_fen, "B:W28,31,33-50:B1-20", "M0000322800", 'W'},
                 {"B:W28:B23", "W:W:B32", "M000023320128", 'Z'},
                 {king13, "B:WK25:B37", "M0000132503183230", 'W'}};
    for (const Case& c : cases) {
        output.clear();
        ASSERT_FALSE(kavro_moves(c.fen, c.colour, c.after)) << c.fen;
        EXPECT_EQ(received_by_client(), std::vector<std::string>{c.sent});
        EXPECT_EQ(output, std::string("Sent: \"").append(c.sent).append("\"\n"));
        EXPECT_EQ(current_board, kavro.game_board());
    }
}

TEST_F(TranslateTest, BoardThatNoLegalMoveGivesStops) {
    // Unchanged, and a man moved two squares: neither is a legal move.
    for (const char* after : {"B:W31-50:B1-20", "B:W23,31,33-50:B1-20"}) {
        output.clear();
        EXPECT_TRUE(kavro_moves(start_fen, 'W', after)) << after;
        EXPECT_EQ(output, "Cannot match kavro new board up with a legal move.\n") << after;
    }
    EXPECT_TRUE(received_by_client(50).empty());
}

TEST_F(TranslateTest, PvOptionFollowsTheMoveWithTheAnalysisLineCut) {
    ASSERT_FALSE(kavro_moves(start_fen, 'W', "B:W28,31,33-50:B1-20", true));
    EXPECT_EQ(received_by_client(), (std::vector<std::string>{"M0000322800", "C"}));
    std::string line = "value 0.15, pv ";
    while (line.size() < 162) line += "32-28 ";
    line.resize(162);
    snprintf(last_analysis_text, sizeof last_analysis_text, "%s", line.c_str());
    output.clear();
    ASSERT_FALSE(kavro_moves(start_fen, 'W', "B:W28,31,33-50:B1-20", true));
    std::string chat = "C";
    chat.append(line, 0, 126);
    EXPECT_EQ(received_by_client(), (std::vector<std::string>{"M0000322800", chat}));
    EXPECT_EQ(output, std::string("Sent: \"M0000322800\"\nSent: \"").append(chat).append("\"\n"));
}

// Any order of the captured squares names the same capture; a jumped piece tells apart two
// captures between the same squares.
TEST_F(TranslateTest, ClientMoveBecomesTheCommandKavroTypes) {
    struct Case {
        const char* fen;
        DxpMessage move;
        const char *command, *after;
    } cases[] = {
        {start_fen, move_message(32, 28), "32-28", "B:W28,31,33-50:B1-20"},
        {"B:W28,31,33-50:B1-20", move_message(19, 23), "19-23", "W:W28,31,33-50:B1-18,20,23"},
        {king13, move_message(13, 25, {30, 32, 18}), "13-32-25", "B:WK25:B37"},
        {king13, move_message(13, 25, {18, 37, 30}), "13-37-25", "B:WK25:B32"},
    };
    for (const Case& c : cases) {
        start_game(c.fen, c.fen[0] == 'W' ? 'Z' : 'W'); // the client to move
        EXPECT_EQ(command_for(c.move), c.command);
        EXPECT_EQ(current_board, board_from_fen(c.after)) << c.command;
    }
}

TEST_F(TranslateTest, UnmatchedMovesStopWithTheirLine) {
    const std::string no_match = "cannot match from and to squares of received move.\n";
    struct Case {
        const char* fen;
        DxpMessage move;
        std::string line;
    } cases[] = {
        {"W:WK43:B14,18,19,39", move_message(43, 22, {39, 19, 18}),
         "Error, cannot find a unique jumped square.\n"},
        {"W:W32,33:B28", move_message(33, 29), "Capture counts dont match\n"}, // must take
        {start_fen, move_message(32, 28, {23}), "Capture counts dont match\n"},
        {king13, move_message(13, 25, {18, 32}), no_match},     // too few squares
        {king13, move_message(13, 25, {18, 32, 31}), no_match}, // a square not taken
        {king13, move_message(13, 25, {18, 18, 32}), no_match}, // a square twice
        {king13, move_message(13, 24, {18, 32, 30}), no_match}, // wrong to square
        {king13, move_message(0, 0, {18, 32, 30}), no_match},
        {start_fen, move_message(33, 27), no_match},
        {"B:W28,31,33-50:B1-20", move_message(31, 27), no_match}, // white's move, black to play
    };
    for (const Case& c : cases) {
        output.clear();
        start_game(c.fen, c.fen[0] == 'W' ? 'Z' : 'W'); // the client to move
        const ByteBoard before = current_board;
        EXPECT_EQ(command_for(c.move), "stopped") << c.line;
        EXPECT_EQ(output, c.line);
        EXPECT_EQ(current_board, before);
    }
}

TEST_F(TranslateTest, ReceivedCapturesMatchAsASetOfTheRightSize) {
    start_game(king13, 'Z');
    ASSERT_GT(list_legal_moves(1), 0);
    ASSERT_EQ(move_work.n, 3);
    int matched = 0, matched_longer = 0;
    for (int i = 0; i < move_work.list.count; ++i) {
        matched += path_matches_received_captures(1, move_work.paths[i],
                                                  move_message(13, 25, {32, 30, 18}));
        matched_longer += path_matches_received_captures(1, move_work.paths[i],
                                                         move_message(13, 25, {32, 30, 18, 37}));
    }
    EXPECT_EQ(matched, 1);
    EXPECT_EQ(matched_longer, 0);
}

} // namespace
