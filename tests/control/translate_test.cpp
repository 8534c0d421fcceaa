// Move translation: Kavro's board into the MOVE the client gets, the client's MOVE into the
// command Kavro types.
#include "tests/control/control_test_support.h"

namespace {

class TranslateTest : public ControlTest {
  protected:
    std::string command_for(const DxpMessage& move) {
        char command[16] = "unset";
        if (run([&] { translate_received_move(move, command); })) return "stopped";
        return command;
    }
};

// ---- Kavro's move to the client ---------------------------------------------------------

TEST_F(TranslateTest, KavroQuietMoveIsSentAndEchoed) {
    start_game("W:W31-50:B1-20", 'W');
    kavro.show_board(board_from_fen("B:W28,31,33-50:B1-20"), 0);
    ASSERT_FALSE(run([] { send_kavro_move(false); }));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"M0000322800"});
    EXPECT_EQ(output, "Sent: \"M0000322800\"\n");
    EXPECT_EQ(current_board, kavro.game_board());
}

TEST_F(TranslateTest, KavroCaptureCarriesItsCapturedSquare) {
    start_game("B:W28:B23", 'Z');
    kavro.show_board(board_from_fen("W:W:B32"), 1);
    ASSERT_FALSE(run([] { send_kavro_move(false); }));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"M000023320128"});
}

TEST_F(TranslateTest, KingCaptureSendsSquaresInTheOrderTaken) {
    start_game("W:WK13:B18,30,32,37", 'W');
    kavro.show_board(board_from_fen("B:WK25:B37"), 0);
    ASSERT_FALSE(run([] { send_kavro_move(false); }));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"M0000132503183230"});
}

TEST_F(TranslateTest, BoardThatNoLegalMoveGivesStops) {
    start_game("W:W31-50:B1-20", 'W');
    // Unchanged, and a man moved two squares: neither is a legal move.
    for (const char* fen : {"W:W31-50:B1-20", "B:W23,31,33-50:B1-20"}) {
        output.clear();
        kavro.show_board(board_from_fen(fen), 0);
        set_standard_start(current_board);
        EXPECT_TRUE(run([] { send_kavro_move(false); })) << fen;
        EXPECT_EQ(output, "Cannot match kavro new board up with a legal move.\n") << fen;
    }
    EXPECT_TRUE(received_by_client(50).empty());
}

TEST_F(TranslateTest, PvOptionFollowsTheMoveWithTheAnalysisLineCut) {
    start_game("W:W31-50:B1-20", 'W');
    kavro.show_board(board_from_fen("B:W28,31,33-50:B1-20"), 0);
    std::string line = "value 0.15, pv ";
    while (line.size() < 162) line += "32-28 ";
    line.resize(162);
    snprintf(last_analysis_text, sizeof last_analysis_text, "%s", line.c_str());
    ASSERT_FALSE(run([] { send_kavro_move(true); }));
    std::string chat = "C";
    chat.append(line, 0, 126);
    const std::vector<std::string> sent = received_by_client();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "M0000322800");
    EXPECT_EQ(sent[1], chat);
    std::string expected = "Sent: \"M0000322800\"\nSent: \"";
    expected.append(chat).append("\"\n");
    EXPECT_EQ(output, expected);
}

TEST_F(TranslateTest, EmptyAnalysisLineGoesAsEmptyChat) {
    start_game("W:W31-50:B1-20", 'W');
    kavro.show_board(board_from_fen("B:W28,31,33-50:B1-20"), 0);
    ASSERT_FALSE(run([] { send_kavro_move(true); }));
    EXPECT_EQ(received_by_client(), (std::vector<std::string>{"M0000322800", "C"}));
}

// ---- the client's move to Kavro ---------------------------------------------------------

TEST_F(TranslateTest, QuietMoveBecomesFromToCommand) {
    start_game("W:W31-50:B1-20", 'Z');
    EXPECT_EQ(command_for(move_message(32, 28)), "32-28");
    EXPECT_EQ(current_board, board_from_fen("B:W28,31,33-50:B1-20"));
}

TEST_F(TranslateTest, CapturesBetweenTheSameSquaresAreToldApartByAJumpedPiece) {
    const char* fen = "W:WK13:B18,30,32,37";
    start_game(fen, 'Z');
    // Any order of the captured squares names the same capture.
    EXPECT_EQ(command_for(move_message(13, 25, {30, 32, 18})), "13-32-25");
    EXPECT_EQ(current_board, board_from_fen("B:WK25:B37"));
    start_game(fen, 'Z');
    EXPECT_EQ(command_for(move_message(13, 25, {18, 37, 30})), "13-37-25");
    EXPECT_EQ(current_board, board_from_fen("B:WK25:B32"));
}

TEST_F(TranslateTest, NoPieceOnlyThisMoveTakesStops) {
    start_game("W:WK43:B14,18,19,39", 'Z');
    const ByteBoard before = current_board;
    EXPECT_EQ(command_for(move_message(43, 22, {39, 19, 18})), "stopped");
    EXPECT_EQ(output, "Error, cannot find a unique jumped square.\n");
    EXPECT_EQ(current_board, before);
}

TEST_F(TranslateTest, CaptureRequiredOrAbsentMustAgree) {
    // White must take 28; a quiet move is refused.
    start_game("W:W32,33:B28", 'Z');
    EXPECT_EQ(command_for(move_message(33, 29)), "stopped");
    EXPECT_EQ(output, "Capture counts dont match\n");
    // No capture exists; a claimed one is refused.
    output.clear();
    start_game("W:W31-50:B1-20", 'Z');
    EXPECT_EQ(command_for(move_message(32, 28, {23})), "stopped");
    EXPECT_EQ(output, "Capture counts dont match\n");
}

TEST_F(TranslateTest, UnmatchedSquaresOrCapturesStop) {
    const char* fen = "W:WK13:B18,30,32,37";
    struct Case {
        DxpMessage move;
        const char* why;
    } cases[] = {
        {move_message(13, 25, {18, 32}), "fewer captured squares than the capture takes"},
        {move_message(13, 25, {18, 32, 31}), "a square the capture does not take"},
        {move_message(13, 25, {18, 18, 32}), "a square twice"},
        {move_message(13, 24, {18, 32, 30}), "a wrong to square"},
        {move_message(0, 0, {18, 32, 30}), "no squares at all"},
    };
    for (const Case& c : cases) {
        output.clear();
        start_game(fen, 'Z');
        EXPECT_EQ(command_for(c.move), "stopped") << c.why;
        EXPECT_EQ(output, "cannot match from and to squares of received move.\n") << c.why;
    }
    output.clear();
    start_game("W:W31-50:B1-20", 'Z');
    EXPECT_EQ(command_for(move_message(33, 27)), "stopped");
    EXPECT_EQ(output, "cannot match from and to squares of received move.\n");
}

TEST_F(TranslateTest, BlackClientMovesForBlack) {
    start_game("B:W28,31,33-50:B1-20", 'W');
    EXPECT_EQ(command_for(move_message(19, 23)), "19-23");
    EXPECT_EQ(current_board, board_from_fen("W:W28,31,33-50:B1-18,20,23"));
    // A white move is not black's.
    start_game("B:W28,31,33-50:B1-20", 'W');
    EXPECT_EQ(command_for(move_message(31, 27)), "stopped");
}

TEST_F(TranslateTest, ReceivedCapturesMatchAsASet) {
    start_game("W:WK13:B18,30,32,37", 'Z');
    ASSERT_GT(list_legal_moves(1), 0);
    ASSERT_EQ(move_work.n, 3);
    int matched = 0;
    for (int i = 0; i < move_work.list.count; ++i) {
        matched += path_matches_received_captures(1, move_work.paths[i],
                                                  move_message(13, 25, {32, 30, 18}));
    }
    EXPECT_EQ(matched, 1);
    // A count that differs never matches, even when the squares are all there.
    for (int i = 0; i < move_work.list.count; ++i) {
        EXPECT_FALSE(path_matches_received_captures(1, move_work.paths[i],
                                                    move_message(13, 25, {32, 30, 18, 37})));
    }
}

} // namespace
