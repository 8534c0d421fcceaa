// The server against a stand-in that misbehaves on purpose (its winkavro.ini "fault=" key):
// each failure path ends with its own line, exit status 1, and no stand-in left running.
#include "standin/config.h"
#include "tests/e2e/e2e_fixture.h"

namespace {

TEST(FaultConfig, FaultKeysAreReadAndOffByDefault) {
    StandinConfig config;
    EXPECT_EQ(config.fault, fault_none);
    EXPECT_FALSE(apply_config_line("fault = ignore_moves", config));
    EXPECT_EQ(config.fault, fault_ignore_moves);
    EXPECT_FALSE(apply_config_line("fault=die_after_moves=3 # mid-game", config));
    EXPECT_EQ(config.fault, fault_die_after_moves);
    EXPECT_EQ(config.die_after_moves, 3);
    EXPECT_FALSE(apply_config_line("fault=none", config));
    EXPECT_EQ(config.fault, fault_none);
    // Not understood: reported and left as it was.
    for (const char* line : {"fault=ignore", "fault=die_after_moves=", "fault=die_after_moves=x",
                             "fault=die_after_moves=-1", "fault="}) {
        EXPECT_TRUE(apply_config_line(line, config)) << line;
        EXPECT_EQ(config.fault, fault_none) << line;
    }
}

class FaultyEngine : public Hostile {};

TEST_F(FaultyEngine, WrongStartBoardFailsTheStartupTestBeforeAnyWrite) {
    start({}, 100, "fault=wrong_start_board\n", false);
    expect_stop("Kavro start board does not verify.");
    for (const std::string& line : log_lines()) {
        EXPECT_NE(line.rfind("Kavro command:", 0), 0u) << "Kavro was touched: " << line;
        EXPECT_NE(line, "Waiting for client connection.");
    }
}

TEST_F(FaultyEngine, IgnoredMovesFailTheStartupTestAfterTheTwoOpeningMoves) {
    start({}, 100, "fault=ignore_moves\n", false);
    expect_stop("Kavro command: \"19-23\"");
    EXPECT_EQ(log_count("Kavro command: \"31-26\""), 1);
}

TEST_F(FaultyEngine, IgnoredMoveIsTypedTenTimesThenTheServerStops) {
    start({"-t"}, 100, "fault=ignore_moves\n");
    GameTracker game;
    request_game(game, 'Z');
    ASSERT_FALSE(client_send(client, game_play(game, game_find_move(game, 32, 28))));
    // Ten attempts of the typing, a 500 ms pause and a board look each.
    expect_stop("Kavro did not make a move.", 30000);
    EXPECT_EQ(log_count("Kavro command: \"32-28\""), 10);
}

TEST_F(FaultyEngine, IgnoredNewGameAtGameEndStopsAfterTenAttempts) {
    start({"-t"}, 100, "fault=ignore_new\n");
    GameTracker game;
    request_game(game, 'Z');
    exchange_moves(game);
    end_game_by_client();
    expect_stop("kavro board did not change.", 30000);
    EXPECT_EQ(log_count("Kavro command: \"n\""), 10);
}

TEST_F(FaultyEngine, IllegalReplyCannotBeMatched) {
    start({"-t"}, 100, "fault=illegal_reply\n");
    GameTracker game;
    request_game(game, 'W'); // Kavro's first move is already a wrong one
    expect_stop("Cannot match kavro new board up with a legal move.");
    EXPECT_TRUE(client_sees_close(client, 5000));
}

TEST_F(FaultyEngine, EngineDyingMidGameEndsTheServerWithTheReadFailure) {
    start({"-t"}, 100, "fault=die_after_moves=2\n");
    GameTracker game;
    request_game(game, 'W');
    expect_legal_reply(game); // Kavro's first move
    exchange_moves(game);     // and its second
    ASSERT_FALSE(client_send(client, game_play(game, 0)));
    // Kavro ends instead of a third move, while the server watches its board.
    expect_stop("ReadProcessMemory; ", 15000, true);
    EXPECT_EQ(log_count(lost_line), 0);
}

} // namespace
