// The dispatcher against the fake Kavro: each DXP message from the client as it arrives
// through the ring and the event queue, and what the server answers and makes Kavro do.
#include <tuple>

#include "tests/control/control_test_support.h"

namespace {

const std::string gameacc = "AKavro" + std::string(27, ' ') + "0";

std::string received_line(const std::string& text) {
    return "Received: \"" + text + "\"";
}
std::string sent_line(const std::string& text) {
    return "Sent: \"" + text + "\"";
}

std::string last_line(const std::string& output) {
    const std::vector<std::string> lines = lines_of(output);
    return lines.empty() ? "" : lines.back();
}

using Dispatch = ControlTest;

// ---- GAMEREQ ---------------------------------------------------------------------------

// Kavro as black is given time to take its colour before the client moves.
TEST_F(Dispatch, StandardStartWithServerAsBlackWaitsForTheClient) {
    pause_scale_percent = 100;
    const std::string request = gamereq_text('Z');
    const int64_t start = clock_ms();
    ASSERT_FALSE(deliver(request));
    EXPECT_GE(clock_ms() - start, 500);
    EXPECT_EQ(received_by_client(), std::vector<std::string>{gameacc});
    const std::vector<std::string> lines = lines_of(output);
    ASSERT_EQ(lines.size(), 4u) << output;
    EXPECT_EQ(lines[0], received_line(request));
    EXPECT_EQ(lines[1], "GAMEREQ from Tester; time 10; moves 50; start position is GAYP; "
                        "Kavro plays black");
    EXPECT_EQ(lines[2], sent_line(gameacc));
    EXPECT_EQ(lines[3], "Kavro command: \"kac\"");
    EXPECT_EQ(kavro.process.count_writes(kavro_setup_board, 54), 0);
    EXPECT_EQ(game.kavro_colour, 'Z');
    EXPECT_FALSE(differs_from_standard_start(current_board));
    EXPECT_TRUE(kavro.plays_black());
    EXPECT_FALSE(kavro.plays_white());
}

TEST_F(Dispatch, StandardStartWithServerAsWhiteSendsKavrosFirstMove) {
    ASSERT_FALSE(deliver(gamereq_text('W')));
    // The fake plays the first legal move in list order, 31-27.
    EXPECT_EQ(received_by_client(), (std::vector<std::string>{gameacc, "M0000312700"}));
    EXPECT_TRUE(count_lines("GAMEREQ from Tester; time 10; moves 50; start position "
                            "is GAYP; Kavro plays white"));
    EXPECT_TRUE(count_lines("Kavro command: \"kca\""));
    EXPECT_EQ(last_line(output), sent_line("M0000312700"));
    EXPECT_EQ(current_board, kavro.game_board());
    EXPECT_EQ(game.kavro_colour, 'W');
}

TEST_F(Dispatch, BlackToMoveStartIsLoadedAcceptedThenRefused) {
    const char* fen = "B:W31,32:B19,20";
    for (char colour : {'W', 'Z'}) {
        output.clear();
        EXPECT_TRUE(deliver(gamereq_text(colour, fen))) << colour;
        EXPECT_EQ(received_by_client(), std::vector<std::string>{gameacc}) << colour;
        EXPECT_EQ(last_line(output), "The server cannot accept a black-to-move start position.")
            << colour;
        EXPECT_TRUE(count_lines("GAMEREQ from Tester; time 10; moves 50; start "
                                "position is custom setup; Kavro plays " +
                                std::string(colour == 'W' ? "white" : "black")));
        EXPECT_EQ(kavro.setup_board(), board_from_fen(fen)) << colour;
        EXPECT_EQ(kavro.commands.front(), "n") << colour;
        kavro.commands.clear();
    }
}

TEST_F(Dispatch, CustomWhiteToMoveStartWithServerAsWhite) {
    const char* fen = "W:WK13:B18,30,32,37";
    ASSERT_FALSE(deliver(gamereq_text('W', fen)));
    // Kavro's first move: the first capture in list order.
    EXPECT_EQ(received_by_client(), (std::vector<std::string>{gameacc, "M0000132503183230"}));
    EXPECT_EQ(current_board, kavro.game_board());
}

// A client that starts a new game without ending the last one: Kavro still shows the old
// board and still plays its old side.
TEST_F(Dispatch, NewStandardGameResetsKavroThatShowsAnotherBoard) {
    ASSERT_FALSE(deliver(gamereq_text('W')));
    ASSERT_TRUE(differs_from_standard_start(kavro.game_board()));
    received_by_client();
    output.clear();
    kavro.commands.clear();

    ASSERT_FALSE(deliver(gamereq_text('Z')));
    EXPECT_EQ(kavro.commands, (std::vector<std::string>{"n", "kac"}));
    EXPECT_FALSE(differs_from_standard_start(kavro.game_board()));
    EXPECT_FALSE(differs_from_standard_start(current_board));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{gameacc});

    // The game goes on from the standard start.
    output.clear();
    ASSERT_FALSE(deliver("M0000322800"));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"M0000162100"});
}

TEST_F(Dispatch, NewGameAfterDeclaredResultStartsFromTheStandardStart) {
    start_game("W:W33:B28", 'Z');
    ASSERT_FALSE(deliver("M000033220128")); // takes Kavro's last piece
    ASSERT_TRUE(game.game_end_declared);
    received_by_client();
    ASSERT_FALSE(deliver(gamereq_text('W')));
    EXPECT_FALSE(game.game_end_declared);
    EXPECT_EQ(received_by_client(), (std::vector<std::string>{gameacc, "M0000312700"}));
}

TEST_F(Dispatch, CustomStartIsNotPlayedOnByKavrosOldSide) {
    ASSERT_FALSE(deliver(gamereq_text('W'))); // Kavro plays white and has moved
    received_by_client();
    const char* fen = "W:W31,32,33:B18,19";
    ASSERT_FALSE(deliver(gamereq_text('Z', fen))); // white to move: the client's turn
    EXPECT_EQ(kavro.game_board(), board_from_fen(fen));
    EXPECT_EQ(current_board, board_from_fen(fen));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{gameacc});
}

TEST_F(Dispatch, UnknownPositionCharactersLeaveTheirSquaresEmpty) {
    start_game("W:W31-50:B1-20", 'Z'); // the last game's pieces, on 7 and 12 among them
    std::string request = gamereq_text('Z', "W:W31:B7,12,13");
    request[44 + 6] = 'x';  // square 7
    request[44 + 11] = '?'; // square 12
    ASSERT_FALSE(deliver(request));
    EXPECT_EQ(current_board, board_from_fen("W:W31:B13"));
    EXPECT_EQ(kavro.setup_board(), board_from_fen("W:W31:B13"));
    EXPECT_EQ(kavro.game_board(), board_from_fen("W:W31:B13"));
}

TEST_F(Dispatch, ServerAsWhiteWithoutAnyMoveDeclaresItsLoss) {
    ASSERT_FALSE(deliver(gamereq_text('W', "W:W46:B37,41")));
    EXPECT_EQ(received_by_client(), (std::vector<std::string>{gameacc, "E10"}));
    EXPECT_TRUE(count_lines("Loss declared."));
    EXPECT_EQ(last_line(output), sent_line("E10"));
    EXPECT_TRUE(game.game_end_declared);
}

// ---- MOVE ------------------------------------------------------------------------------

TEST_F(Dispatch, ClientMoveIsTypedAndKavrosReplySent) {
    ASSERT_FALSE(deliver(gamereq_text('Z')));
    received_by_client();
    output.clear();
    ASSERT_FALSE(deliver("M0000322800"));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"M0000162100"});
    const std::vector<std::string> lines = lines_of(output);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], received_line("M0000322800"));
    EXPECT_EQ(lines[1], "Kavro command: \"32-28\"");
    EXPECT_EQ(lines.back(), sent_line("M0000162100"));
    EXPECT_EQ(current_board, kavro.game_board());
    EXPECT_EQ(game.previous_board, board_from_fen("W:W31-50:B1-20"));
}

// Also when the move would leave Kavro without a move: no loss is declared for a move it
// never took.
TEST_F(Dispatch, MoveKavroNeverTakesIsTypedTenTimesThenStops) {
    const char* const cases[][3] = {{"W:W31-50:B1-20", "M0000322800", "Kavro command: \"32-28\""},
                                    {"W:W33:B28", "M000033220128", "Kavro command: \"33-22\""}};
    for (const auto& c : cases) {
        output.clear();
        start_game(c[0], 'Z');
        kavro.ignore_moves = true;
        EXPECT_TRUE(deliver(c[1]));
        EXPECT_EQ(count_lines(c[2]), 10);
        EXPECT_EQ(last_line(output), "Kavro did not make a move.");
        EXPECT_FALSE(count_lines("Loss declared."));
        EXPECT_TRUE(received_by_client(50).empty());
    }
}

TEST_F(Dispatch, MoveTakenOnLaterAttemptGoesOn) {
    start_game("W:W31-50:B1-20", 'Z');
    // Kavro misses the first typing: the command is typed again and the game goes on.
    kavro.ignore_moves = true;
    kavro.process.before_read = [this, reads = 0](FakeEngineProcess&, uint32_t address,
                                                  size_t) mutable {
        if (address == kavro_game_board && ++reads == 2) kavro.ignore_moves = false;
    };
    ASSERT_FALSE(deliver("M0000322800"));
    EXPECT_EQ(count_lines("Kavro command: \"32-28\""), 2);
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"M0000162100"});
}

// Its last piece taken, or its last piece blocked.
TEST_F(Dispatch, LeavingKavroWithoutAMoveEndsTheGameWithItsLoss) {
    start_game("W:WK44:B45", 'Z');
    ASSERT_FALSE(deliver("M0000445000"));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"E10"});
    EXPECT_TRUE(count_lines("Loss declared."));

    output.clear();
    start_game("W:W33:B28", 'Z');
    ASSERT_FALSE(deliver("M000033220128"));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"E10"});
    EXPECT_EQ(lines_of(output),
              (std::vector<std::string>{received_line("M000033220128"), "Kavro command: \"33-22\"",
                                        "Loss declared.", sent_line("E10")}));
    EXPECT_TRUE(game.game_end_declared);
    EXPECT_EQ(current_board, board_from_fen("B:W22:B"));

    // The client's answer gets none, and Kavro is reset.
    output.clear();
    ASSERT_FALSE(deliver("E00"));
    EXPECT_TRUE(received_by_client(100).empty());
    EXPECT_FALSE(differs_from_standard_start(kavro.game_board()));
}

// ---- adjudication ----------------------------------------------------------------------

struct Declared {
    int16_t score;
    const char* line;
    const char* game_end;
};

class Adjudicated : public ControlTest, public testing::WithParamInterface<Declared> {};

TEST_P(Adjudicated, DecidedGameEndsWithTheServersGameEnd) {
    options.adjudicate = true;
    start_game("W:W41,42:B9,10", 'Z');
    last_analysis_score = GetParam().score;
    kavro.reply_score = GetParam().score; // also its ponder score
    ASSERT_FALSE(deliver("M0000413700"));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{GetParam().game_end});
    EXPECT_TRUE(count_lines(GetParam().line));
    EXPECT_EQ(last_line(output), sent_line(GetParam().game_end));
    EXPECT_TRUE(game.game_end_declared);
    // Kavro's reply stands on its board but is not sent; current_board keeps the client's move.
    EXPECT_EQ(current_board, board_from_fen("B:W37,42:B9,10"));
    EXPECT_NE(kavro.game_board(), current_board);

    output.clear();
    ASSERT_FALSE(deliver("E00"));
    EXPECT_TRUE(received_by_client(100).empty());
    EXPECT_EQ(count_lines(sent_line("E00")), 0);
    EXPECT_FALSE(differs_from_standard_start(kavro.game_board()));
}

INSTANTIATE_TEST_SUITE_P(Results, Adjudicated,
                         testing::Values(Declared{50, "Draw declared.", "E20"},
                                         Declared{300, "Win declared.", "E30"},
                                         Declared{-300, "Loss declared.", "E10"}));

// Six pieces and a small score with "-a"; a decided score without it.
TEST_F(Dispatch, UndecidedGameOrNoAdjudicationGoesOn) {
    const std::tuple<bool, const char*, int16_t> cases[] = {{true, "W:W41,42,43:B8,9,10", 50},
                                                            {false, "W:W41,42:B9,10", 300}};
    for (const auto& [adjudicate, fen, score] : cases) {
        output.clear();
        options.adjudicate = adjudicate;
        start_game(fen, 'Z');
        last_analysis_score = score;
        kavro.reply_score = score;
        ASSERT_FALSE(deliver("M0000413700"));
        const std::vector<std::string> sent = received_by_client();
        ASSERT_EQ(sent.size(), 1u) << fen;
        EXPECT_EQ(sent[0][0], 'M');
        EXPECT_FALSE(game.game_end_declared);
        EXPECT_FALSE(count_lines("Win declared."));
    }
}

// ---- GAMEEND -----------------------------------------------------------------------------

TEST_F(Dispatch, ClientsGameEndIsAnsweredUnechoedAndKavroReset) {
    start_game("B:W28,31,33-50:B1-20", 'W');
    kavro.commands.clear();
    ASSERT_FALSE(deliver("E00"));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"E00"});
    EXPECT_EQ(lines_of(output).front(), received_line("E00"));
    EXPECT_EQ(count_lines(sent_line("E00")), 0);
    EXPECT_FALSE(kavro.plays_white());
    EXPECT_FALSE(kavro.plays_black());
    EXPECT_EQ(kavro.commands, std::vector<std::string>{"n"});
    EXPECT_FALSE(differs_from_standard_start(kavro.game_board()));
    EXPECT_FALSE(differs_from_standard_start(kavro.setup_board()));
}

TEST_F(Dispatch, GameEndAtTheStandardStartTypesNothing) {
    start_game("W:W31-50:B1-20", 'Z');
    kavro.process.clear_log();
    ASSERT_FALSE(deliver("E10"));
    EXPECT_EQ(kavro.process.count_writes(kavro_player_plays_black, 1), 1);
    EXPECT_EQ(kavro.process.count_writes(kavro_player_plays_white, 1), 1);
    EXPECT_EQ(kavro.process.count_writes(kavro_command_text, 1), 0);
    EXPECT_EQ(kavro.process.count_writes(kavro_setup_board, 54), 0);
}

TEST_F(Dispatch, ResetThatFailsToWriteAFlagStops) {
    start_game("B:W28,31,33-50:B1-20", 'W');
    kavro.process.fail_writes_in(kavro_player_plays_white, 1);
    EXPECT_TRUE(deliver("E00"));
    EXPECT_EQ(last_line(output).rfind("WriteProcessMemory; ", 0), 0u) << output;
}

// ---- the other messages ---------------------------------------------------------------

// A back request is answered with K1 and changes nothing; a chat is printed only.
TEST_F(Dispatch, BackRequestAndChat) {
    start_game("B:W28,31,33-50:B1-20", 'W');
    const ByteBoard before = current_board;
    ASSERT_FALSE(deliver("B012W"));
    ASSERT_FALSE(deliver("Chello there"));
    EXPECT_EQ(received_by_client(), std::vector<std::string>{"K1"});
    EXPECT_EQ(lines_of(output), (std::vector<std::string>{received_line("B012W"), sent_line("K1"),
                                                          received_line("Chello there")}));
    EXPECT_EQ(current_board, before);
}

TEST_F(Dispatch, AcceptancesAndUnknownCodesAreTakenSilently) {
    ASSERT_FALSE(deliver(gameacc));
    ASSERT_FALSE(deliver("K0"));
    const std::string bytes = std::string("Chidden") + '\0';
    ASSERT_FALSE(receive_bytes(bytes.data(), int(bytes.size())));
    ASSERT_EQ(wait_event(0), DXP_CHAT);
    ASSERT_FALSE(run([] { dispatch_dxp_event(42); }));
    EXPECT_EQ(output, "");
    EXPECT_EQ(dxp_connection.read_index.load(), dxp_connection.write_index.load());
    EXPECT_TRUE(received_by_client(50).empty());
}

TEST_F(Dispatch, LostConnectionStops) {
    net_close(peer);
    peer = invalid_socket;
    close_dxp_connection();
    EXPECT_TRUE(dispatch_waiting());
    EXPECT_EQ(output, "Received: DXP_CONNECTIONLOST\n");
}

TEST_F(Dispatch, OverlongMessageRunsNoHandler) {
    start_game("W:W31-50:B1-20", 'Z');
    for (char letter : {'M', 'R', 'E', 'B'}) {
        SCOPED_TRACE(letter);
        output.clear();
        reset_dxp_ring();
        const std::string message = letter + std::string(140, '1');
        EXPECT_TRUE(receive_bytes(message.data(), int(message.size())));
        EXPECT_TRUE(dispatch_waiting());
        EXPECT_EQ(output, "Received: DXP_CONNECTIONLOST\n");
        EXPECT_TRUE(kavro.commands.empty());
        // A fresh connection for the next letter.
        net_close(peer);
        Socket server = invalid_socket;
        ASSERT_FALSE(net_loopback_pair(server, peer));
        dxp_connection.client_socket.store(server);
    }
}

} // namespace
