// The protocol around the games: analysis as CHAT, back requests, the client's CHAT, and a
// start position the server refuses. Malformed and over-long messages and every kind of
// disconnect are in the hostile suite.
#include "tests/e2e/e2e_fixture.h"

namespace {

// The messages up to and including the next MOVE, that MOVE decoded.
std::vector<std::string> messages_until_move(DxpClient& client, DxpMessage& move) {
    std::vector<std::string> messages;
    std::string text;
    while (client_receive_message(client, move, text, reply_timeout_ms) == received_message) {
        messages.push_back(text);
        if (text[0] == 'M') break;
    }
    return messages;
}

// With -pv the analysis line follows each move; with -pvall lines come while Kavro thinks
// (a long move time, so that the board polls see them change) and nothing follows the move.
class Analysis : public EndToEnd, public testing::WithParamInterface<bool> {};

TEST_P(Analysis, SentAsChat) {
    const bool all = GetParam();
    start({all ? "-pvall" : "-pv", "-t"}, all ? 1500 : 100);
    GameTracker game;
    request_game(game, 'W');
    for (int round = 0; round < 2; ++round) {
        DxpMessage move{};
        std::vector<std::string> messages = messages_until_move(client, move);
        ASSERT_FALSE(messages.empty());
        ASSERT_EQ(messages.back()[0], 'M');
        ASSERT_EQ(game_apply_received(game, move), "");
        std::string chat;
        const ReceiveResult after = client_receive(client, chat, all ? 700 : reply_timeout_ms);
        if (all) {
            ASSERT_GE(messages.size(), 2u) << "no analysis before the move";
            EXPECT_EQ(after, receive_timed_out) << chat;
        } else {
            ASSERT_EQ(messages.size(), 1u) << "a CHAT came before the move without -pvall";
            ASSERT_EQ(after, received_message);
            messages.push_back(chat);
        }
        for (const std::string& text : messages) {
            if (text[0] == 'C') {
                EXPECT_EQ(text.rfind("Cvalue ", 0), 0u) << text;
            }
            EXPECT_LE(text.size(), 127u);
            EXPECT_TRUE(server_printed(server, "Sent: \"" + text + "\"", 5000));
        }
        // A move that leaves Kavro a choice, so that it thinks rather than replies at once.
        int choice = 0;
        for (size_t i = 0; i < game.legal.size() && choice == 0; ++i) {
            GameTracker next = game;
            game_play(next, int(i));
            if (next.legal.size() > 1) choice = int(i);
        }
        ASSERT_FALSE(client_send(client, game_play(game, choice)));
    }
    leave_and_expect_stop();
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Analysis, testing::Values(false, true),
                         [](const auto& p) { return p.param ? "PvAll" : "Pv"; });

TEST_F(EndToEnd, BackRequestGetsK1AndChatIsPrinted) {
    start({"-t"});
    ASSERT_FALSE(client_send_text(client, "Chello from the client"));
    EXPECT_TRUE(server_printed(server, "Received: \"Chello from the client\"", 5000));
    ASSERT_FALSE(client_send(client, make_backreq(12, 'W')));
    EXPECT_EQ(next_message(), "K1");
    EXPECT_TRUE(server_printed(server, "Received: \"B012W\"", 5000));
    EXPECT_TRUE(server_printed(server, "Sent: \"K1\"", 5000));
    leave_and_expect_stop();
}

TEST_F(EndToEnd, BlackToMoveStartIsRefusedAfterItsAcceptance) {
    start({"-t"});
    GameTracker game;
    request_game(game, 'W', "B:W31,32:B19,20");
    expect_stop("The server cannot accept a black-to-move start position.", reply_timeout_ms);
    EXPECT_TRUE(client_sees_close(client, 5000));
}

} // namespace
