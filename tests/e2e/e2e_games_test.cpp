// Whole games against the real server and stand-in: every MOVE the server sends is checked
// against the client's own list of legal moves.
#include <numeric>
#include <tuple>

#include "tests/e2e/e2e_fixture.h"

namespace {

TEST_F(EndToEnd, StartupTestThenGamesWithBothColoursOnOneConnection) {
    start({}, 100);
    // The start-up test ran: the two opening moves, then Kavro's own move as white.
    for (const char* command : {"31-26", "19-23", "kca"})
        EXPECT_EQ(log_count("Kavro command: \"" + std::string(command) + "\""), 1);

    GameTracker game;
    request_game(game, 'Z');
    PlayResult played = play_moves(client, game, true, 4, 1, reply_timeout_ms);
    ASSERT_EQ(played.error, "");
    EXPECT_EQ(played.server_moves, 4);
    end_game_by_client();
    EXPECT_TRUE(server_printed(server, "Received: \"E00\"", 5000));
    EXPECT_EQ(log_count("Sent: \"E00\""), 0) << "the answer to GAMEEND is not echoed";

    // Kavro was reset: its first move as white is legal from the standard start.
    request_game(game, 'W');
    played = play_moves(client, game, false, 3, 2, reply_timeout_ms);
    ASSERT_EQ(played.error, "");
    EXPECT_EQ(played.server_moves, 4);
    leave_and_expect_stop();
}

TEST_F(EndToEnd, JumpedSquareCommandWithCapturesSentInAscendingOrder) {
    start({"-t"});
    // Two captures 13x25 by the king; the client sends the taken squares sorted.
    const std::pair<std::vector<int>, const char*> cases[] = {{{18, 32, 30}, "13-32-25"},
                                                              {{18, 37, 30}, "13-37-25"}};
    for (const auto& [captured, command] : cases) {
        GameTracker game;
        request_game(game, 'Z', "W:WK13:B18,30,32,37");
        const int index = game_find_move(game, 13, 25, captured);
        ASSERT_GE(index, 0);
        const DxpMessage move = game_play(game, index, true);
        ASSERT_TRUE(std::is_sorted(move.move.captured, move.move.captured + 3));
        ASSERT_FALSE(client_send(client, move));
        EXPECT_TRUE(server_printed(server, "Kavro command: \"" + std::string(command) + "\"",
                                   reply_timeout_ms));
        expect_legal_reply(game); // Kavro's one man left replies
        end_game_by_client();
    }
    leave_and_expect_stop();
}

TEST_F(EndToEnd, AdjudicationDeclaresADecidedEndgameAndANewGameStartsClean) {
    start({"-a", "-t"});
    GameTracker game;
    // Kavro's two kings against the client's one man: fewer than six pieces, so whatever the
    // score, the server ends the game after the client's move.
    request_game(game, 'Z', "W:W35:BK1,K2");
    const PlayResult played = play_moves(client, game, true, 1, 3, reply_timeout_ms);
    ASSERT_EQ(played.error, "");
    ASSERT_EQ(played.server_moves, 0);
    ASSERT_EQ(played.game_end.size(), 3u) << "no GAMEEND from the server";
    const char reason = played.game_end[1];
    const char* line = reason == '2'   ? "Draw declared."
                       : reason == '3' ? "Win declared."
                       : reason == '1' ? "Loss declared."
                                       : "?";
    EXPECT_TRUE(server_printed(server, line, 5000)) << played.game_end;
    EXPECT_EQ(played.game_end[2], '0');
    EXPECT_TRUE(server_printed(server, "Sent: \"" + played.game_end + "\"", 5000));
    // The client's answer gets none.
    ASSERT_FALSE(client_send(client, make_gameend(0, 0)));
    EXPECT_EQ(next_message(1500), "(none)");

    // Next game, server white, then a new request in its middle: each time Kavro starts
    // from the standard start.
    for (char colour : {'W', 'Z'}) {
        request_game(game, colour);
        const PlayResult next = play_moves(client, game, colour == 'Z', colour == 'W' ? 1 : 2,
                                           uint32_t(colour), reply_timeout_ms);
        ASSERT_EQ(next.error, "");
        EXPECT_EQ(next.server_moves, 2);
    }
    leave_and_expect_stop();
}

TEST_F(EndToEnd, ClientTakingOrBlockingKavrosLastPieceGetsItsLoss) {
    start({"-t"});
    const std::tuple<const char*, int, int> cases[] = {{"W:W33:B28", 33, 22},
                                                       {"W:WK44:B45", 44, 50}};
    for (const auto& [fen, from, to] : cases) {
        SCOPED_TRACE(fen);
        GameTracker game;
        request_game(game, 'Z', fen);
        const int index = game_find_move(game, from, to);
        ASSERT_GE(index, 0);
        ASSERT_FALSE(client_send(client, game_play(game, index)));
        ASSERT_TRUE(game.legal.empty()) << "Kavro should have no move left";
        EXPECT_EQ(next_message(), "E10");
        EXPECT_TRUE(server_printed(server, "Loss declared.", 5000));
        EXPECT_TRUE(server_printed(server, "Sent: \"E10\"", 5000));
        // The client answers the declared end; the server does not answer that.
        ASSERT_FALSE(client_send(client, make_gameend(0, 0)));
        EXPECT_EQ(next_message(1500), "(none)");
    }
    leave_and_expect_stop();
}

TEST_F(EndToEnd, ServerTimePerMoveBesidesPausesAndThinking) {
    // The stand-in at its shortest move time has replied within the 500 ms pause after the
    // typed move, so the client waits two fixed 500 ms pauses plus the server's own work.
    start({"-t"}, 1);
    GameTracker game;
    request_game(game, 'Z');
    const int64_t cpu_before = process_cpu_ms(server.pid);
    const PlayResult played = play_moves(client, game, true, 10, 6, reply_timeout_ms);
    const int64_t cpu_used = process_cpu_ms(server.pid) - cpu_before;
    ASSERT_EQ(played.error, "");
    // The first move also waits out the pause that follows "kac".
    ASSERT_GT(played.latencies_ms.size(), 1u);
    const std::vector<int64_t> latencies(played.latencies_ms.begin() + 1,
                                         played.latencies_ms.end());
    for (int64_t latency : latencies) EXPECT_GE(latency, 1000 - 2) << "pauses cut short";
    const int64_t most = *std::max_element(latencies.begin(), latencies.end());
    const double mean = double(std::accumulate(latencies.begin(), latencies.end(), int64_t(0))) /
                        double(latencies.size());
    printf("server time per move over %zu moves: mean %.1f ms, most %lld ms beyond the "
           "1000 ms of fixed pauses; processor time %lld ms for all %zu moves\n",
           latencies.size(), mean - 1000, static_cast<long long>(most - 1000),
           static_cast<long long>(cpu_used), played.latencies_ms.size());
    EXPECT_LT(mean, 1000 + 300); // a missed poll (100 ms) or a slow machine stays below this
    end_game_by_client();
    leave_and_expect_stop();
}

} // namespace
