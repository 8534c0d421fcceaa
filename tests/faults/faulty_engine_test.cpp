// The server against a stand-in that misbehaves on purpose (its winkavro.ini "fault=" key):
// each failure path ends with its own line, exit status 1, and no stand-in left running.
#include <cstdio>

#include "standin/config.h"
#include "tests/hostile/hostile_fixture.h"

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
        SCOPED_TRACE(line);
        EXPECT_TRUE(apply_config_line(line, config));
        EXPECT_EQ(config.fault, fault_none);
    }
}

class FaultyEngine : public Hostile {};

TEST_F(FaultyEngine, WrongStartBoardFailsTheStartupTestBeforeAnyWrite) {
    start_with({}, "fault=wrong_start_board\n", 100, false);
    expect_stop("Kavro start board does not verify.");
    EXPECT_EQ(log_count("Waiting for client connection."), 0);
    for (const std::string& line : server_log_lines(server))
        EXPECT_NE(line.rfind("Kavro command:", 0), 0u) << "Kavro was touched: " << line;
}

TEST_F(FaultyEngine, IgnoredMovesFailTheStartupTestAfterTheTwoOpeningMoves) {
    start_with({}, "fault=ignore_moves\n", 100, false);
    expect_stop("Kavro command: \"19-23\"");
    EXPECT_EQ(log_count("Kavro command: \"31-26\""), 1);
}

TEST_F(FaultyEngine, IgnoredMoveIsTypedTenTimesThenTheServerStops) {
    start_with({"-t"}, "fault=ignore_moves\n");
    GameTracker game;
    request_game(game, 'Z');
    ASSERT_FALSE(client_send(client, game_play(game, game_find_move(game, 32, 28))));
    // Ten attempts of the typing, a 500 ms pause and a board look each.
    expect_stop("Kavro did not make a move.", 30000);
    EXPECT_EQ(log_count("Kavro command: \"32-28\""), 10);
}

TEST_F(FaultyEngine, IgnoredNewGameAtGameEndStopsAfterTenAttempts) {
    start_with({"-t"}, "fault=ignore_new\n");
    GameTracker game;
    request_game(game, 'Z');
    ASSERT_FALSE(client_send(client, game_play(game, 0)));
    expect_legal_reply(game);
    end_game_by_client();
    expect_stop("kavro board did not change.", 30000);
    EXPECT_EQ(log_count("Kavro command: \"n\""), 10);
}

TEST_F(FaultyEngine, IllegalReplyCannotBeMatched) {
    start_with({"-t"}, "fault=illegal_reply\n");
    GameTracker game;
    request_game(game, 'W'); // Kavro's first move is already a wrong one
    expect_stop("Cannot match kavro new board up with a legal move.");
    EXPECT_TRUE(client_sees_close(client, 5000));
}

TEST_F(FaultyEngine, EngineDyingMidGameEndsTheServerWithTheReadFailure) {
    start_with({"-t"}, "fault=die_after_moves=2\n");
    GameTracker game;
    request_game(game, 'W');
    expect_legal_reply(game); // Kavro's first move
    ASSERT_FALSE(client_send(client, game_play(game, 0)));
    expect_legal_reply(game); // its second
    ASSERT_FALSE(client_send(client, game_play(game, 0)));
    // Kavro ends instead of a third move, while the server watches its board.
    expect_stop_prefix("ReadProcessMemory; ");
    EXPECT_EQ(log_count("Received: DXP_CONNECTIONLOST"), 0);
}

} // namespace
