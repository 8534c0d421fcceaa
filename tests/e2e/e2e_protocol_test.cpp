// The protocol around the games: analysis as CHAT, back requests, the client's CHAT, and
// every way the connection or the server ends.
#include "tests/e2e/e2e_fixture.h"

namespace {

// The messages up to and including the next MOVE.
std::vector<std::string> messages_until_move(DxpClient& client) {
    std::vector<std::string> messages;
    std::string text;
    while (client_receive(client, text, reply_timeout_ms) == received_message) {
        messages.push_back(text);
        if (text[0] == 'M') break;
    }
    return messages;
}

TEST_F(EndToEnd, PvSendsTheAnalysisLineAfterEachMove) {
    start({"-pv", "-t"}, 100);
    GameTracker game;
    request_game(game, 'W');
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::vector<std::string> before = messages_until_move(client);
        ASSERT_EQ(before.size(), 1u) << "a CHAT came before the move without -pvall";
        DxpMessage move{};
        char copy[dxp_text_size] = {};
        before[0].copy(copy, dxp_max_text);
        decode_dxp_message(copy, move);
        ASSERT_EQ(game_apply_received(game, move), "");
        std::string chat;
        ASSERT_EQ(client_receive(client, chat, reply_timeout_ms), received_message);
        ASSERT_EQ(chat.rfind("Cvalue ", 0), 0u) << chat;
        EXPECT_LE(chat.size(), 127u);
        EXPECT_TRUE(server_printed(server, "Sent: \"" + before[0] + "\"", 5000));
        EXPECT_TRUE(server_printed(server, "Sent: \"" + chat + "\"", 5000));
        ASSERT_FALSE(client_send(client, game_play(game, 0)));
    }
    expect_stop_on_disconnect();
}

TEST_F(EndToEnd, PvAllRelaysAnalysisWhileKavroThinks) {
    // Long enough a move time that the board polls see Kavro's lines change.
    start({"-pvall", "-t"}, 1500);
    GameTracker game;
    request_game(game, 'W');
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::vector<std::string> messages = messages_until_move(client);
        ASSERT_GE(messages.size(), 2u) << "no analysis before the move";
        ASSERT_EQ(messages.back()[0], 'M');
        for (size_t i = 0; i + 1 < messages.size(); ++i) {
            EXPECT_EQ(messages[i].rfind("Cvalue ", 0), 0u) << messages[i];
            EXPECT_TRUE(server_printed(server, "Sent: \"" + messages[i] + "\"", 5000));
        }
        DxpMessage move{};
        char copy[dxp_text_size] = {};
        messages.back().copy(copy, dxp_max_text);
        decode_dxp_message(copy, move);
        ASSERT_EQ(game_apply_received(game, move), "");
        // Without -pv nothing follows the move.
        std::string text;
        EXPECT_EQ(client_receive(client, text, 700), receive_timed_out) << text;
        // A move that leaves Kavro a choice, so that it thinks rather than replies at once.
        int choice = 0;
        for (size_t i = 0; i < game.legal.size(); ++i) {
            GameTracker after = game;
            game_play(after, int(i));
            if (after.legal.size() > 1) {
                choice = int(i);
                break;
            }
        }
        ASSERT_FALSE(client_send(client, game_play(game, choice)));
    }
    expect_stop_on_disconnect();
}

TEST_F(EndToEnd, BackRequestGetsK1AndChatIsPrinted) {
    start({"-t"});
    ASSERT_FALSE(client_send_text(client, "Chello from the client"));
    EXPECT_TRUE(server_printed(server, "Received: \"Chello from the client\"", 5000));
    ASSERT_FALSE(client_send(client, make_backreq(12, 'W')));
    std::string text;
    ASSERT_EQ(client_receive(client, text, reply_timeout_ms), received_message);
    EXPECT_EQ(text, "K1");
    EXPECT_TRUE(server_printed(server, "Received: \"B012W\"", 5000));
    EXPECT_TRUE(server_printed(server, "Sent: \"K1\"", 5000));
    expect_stop_on_disconnect();
}

TEST_F(EndToEnd, DisconnectStopsTheServerAndItsEngine) {
    start({"-t"});
    GameTracker game;
    request_game(game, 'Z');
    EXPECT_NE(server_engine_pid(server), 0);
    expect_stop_on_disconnect();
    EXPECT_EQ(last_log_line(), "Received: DXP_CONNECTIONLOST");
}

TEST_F(EndToEnd, BadFirstLetterClosesTheConnection) {
    start({"-t"});
    ASSERT_FALSE(client_send_text(client, "Dhello"));
    EXPECT_TRUE(client_sees_close(client, 10000));
    EXPECT_TRUE(server_printed(server, "Received: DXP_CONNECTIONLOST", 10000));
    expect_exit_1();
    EXPECT_EQ(log_count("Received: \"Dhello\""), 0);
}

TEST_F(EndToEnd, OverlongMessageClosesTheConnection) {
    start({"-t"});
    ASSERT_FALSE(client_send_text(client, "C" + std::string(200, 'x')));
    EXPECT_TRUE(client_sees_close(client, 10000));
    EXPECT_TRUE(server_printed(server, "Received: DXP_CONNECTIONLOST", 10000));
    expect_exit_1();
    for (const std::string& line : server_log_lines(server))
        EXPECT_NE(line.rfind("Received: \"C", 0), 0u) << "a handler ran on the long message";
}

TEST_F(EndToEnd, BlackToMoveStartIsRefusedAfterItsAcceptance) {
    start({"-t"});
    GameTracker game;
    request_game(game, 'W', "B:W31,32:B19,20");
    EXPECT_TRUE(server_printed(server, "The server cannot accept a black-to-move start position.",
                               reply_timeout_ms));
    expect_exit_1();
    EXPECT_TRUE(client_sees_close(client, 5000));
}

} // namespace
