// A client that breaks the protocol, floods the server or goes away at a bad moment, against
// the real server and stand-in. The server either goes on serving or stops with its line,
// exit status 1 and no stand-in left running.
#include <cstdio>
#include <cstring>

#include "tests/e2e/e2e_fixture.h"

namespace {

// ---- messages the protocol does not allow ------------------------------------------------

// A bad first letter, or none (an empty message), between two good messages in one send.
class BadFirstLetter : public Hostile, public testing::WithParamInterface<int> {};

TEST_P(BadFirstLetter, ClosesTheConnectionAfterTheMessagesBeforeIt) {
    start({"-t"});
    std::string bytes("B001W\0", 6);
    bytes += char(GetParam());
    bytes += std::string("0000322800\0B002W\0", 17);
    ASSERT_FALSE(client_send_bytes(client, bytes.data(), bytes.size()));
    // The receiver closes at once: the K1 may find the connection gone, but the message
    // before the bad one is still handled, and the one after it dropped.
    EXPECT_TRUE(client_sees_close(client, 10000));
    expect_stop(lost_line);
    EXPECT_EQ(log_count("Received: \"B001W\""), 1);
    EXPECT_EQ(log_count("Received: \"B002W\""), 0);
}

INSTANTIATE_TEST_SUITE_P(Letters, BadFirstLetter, testing::Values(0, 'D', 'r', 0x01, 0xFF));

TEST_F(Hostile, MessageOf132CharactersIsTakenAndOf133Refused) {
    start({"-t"});
    const std::string longest = "C" + std::string(131, 'x');
    ASSERT_FALSE(client_send_text(client, longest));
    expect_still_serving();
    ASSERT_FALSE(client_send_text(client, "C" + std::string(132, 'y')));
    EXPECT_TRUE(client_sees_close(client, 10000));
    expect_stop(lost_line);
    // No handler ran on the long message's unfilled record.
    for (const std::string& line : log_lines())
        if (line.rfind("Received: \"C", 0) == 0) {
            EXPECT_EQ(line, "Received: \"" + longest + "\"");
        }
    EXPECT_EQ(log_count("Received: \"" + longest + "\""), 1);
}

TEST_F(Hostile, MessagesSentOneBytePerSendMakeAGame) {
    start({"-t"});
    GameTracker game;
    ASSERT_FALSE(game_start(game));
    auto send_slowly = [this](const DxpMessage& message) {
        char wire[dxp_send_size];
        encode_dxp_message(message, wire);
        for (size_t i = 0; i <= std::strlen(wire); ++i) {
            ASSERT_FALSE(client_send_bytes(client, wire + i, 1));
            pause_ms(1);
        }
    };
    send_slowly(make_gamereq('Z'));
    ASSERT_EQ(next_message(), gameacc_text);
    for (int round = 0; round < 2; ++round) {
        send_slowly(game_play(game, int(game.legal.size()) - 1));
        expect_legal_reply(game);
    }
    leave_and_expect_stop();
}

TEST_F(Hostile, ThousandMessagesInOneSendAreEachAnswered) {
    start({"-t"});
    std::string bytes;
    char text[8];
    for (int i = 0; i < 1000; ++i) {
        std::snprintf(text, sizeof text, "B%03dW", i);
        bytes.append(text, 6); // with its zero byte
    }
    ASSERT_FALSE(client_send_bytes(client, bytes.data(), bytes.size()));
    int answers = 0;
    while (answers < 1000 && next_message(10000) == "K1") ++answers;
    EXPECT_EQ(answers, 1000);
    EXPECT_EQ(log_count("Received: \"B999W\""), 1);
    EXPECT_EQ(log_count("Sent: \"K1\"", 1000), 1000);
    GameTracker game;
    request_game(game, 'W');
    expect_legal_reply(game);
    leave_and_expect_stop();
}

TEST_F(Hostile, MegabyteOfChatWhileKavroThinksThenTheGameGoesOn) {
    start({"-t"}, 1500);
    GameTracker game;
    request_game(game, 'W'); // Kavro thinks about its first move now
    const std::string chat = "C" + std::string(126, 'z');
    std::string bytes;
    const int count = (1 << 20) / int(chat.size() + 1);
    for (int i = 0; i < count; ++i) bytes.append(chat.c_str(), chat.size() + 1);
    const int64_t started = clock_ms();
    ASSERT_FALSE(client_send_bytes(client, bytes.data(), bytes.size()));
    expect_legal_reply(game);
    exchange_moves(game);
    EXPECT_EQ(log_count("Received: \"" + chat + "\""), count) << "a CHAT was lost or doubled";
    printf("%d CHAT messages (%zu bytes) taken in %lld ms\n", count, bytes.size(),
           static_cast<long long>(clock_ms() - started));
    leave_and_expect_stop();
}

// ---- moves and requests that make no sense ---------------------------------------------------

struct BadMove {
    const char* name;
    bool in_game; // sent after a GAMEREQ for the standard start, Kavro black
    std::string text;
    const char* last_line;
};

class StoppingMove : public Hostile, public testing::WithParamInterface<BadMove> {};

TEST_P(StoppingMove, StopsWithItsLine) {
    start({"-t"});
    GameTracker game;
    if (GetParam().in_game) request_game(game, 'Z');
    ASSERT_FALSE(client_send_text(client, GetParam().text));
    expect_stop(GetParam().last_line);
}

const char* const no_match = "cannot match from and to squares of received move.";

std::string repeated(const std::string& text, int times) {
    std::string result;
    while (times-- > 0) result += text;
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, StoppingMove,
    testing::Values(BadMove{"NonDigits", true, "M00003x2800", no_match},
                    // 60 captured squares fill the longest message, 131 characters.
                    BadMove{"SixtyCaptures", true, "M0000322860" + repeated("19", 60),
                            "Capture counts dont match"},
                    BadMove{"BeforeAnyGameRequest", false, "M0000322800", no_match}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Hostile, MoveClaimingMoreCapturesThanItCarriesIsReadAsItStands) {
    start({"-t"});
    GameTracker game;
    request_game(game, 'Z');
    // Five claimed, none present: read as the quiet move it names, and answered.
    const int index = game_find_move(game, 32, 28);
    ASSERT_GE(index, 0);
    ASSERT_FALSE(client_send_text(client, "M0000322805"));
    game_play(game, index);
    expect_legal_reply(game);

    // Three claimed, one present, where no capture exists (black after white's first move).
    GameTracker next;
    request_game(next, 'W');
    expect_legal_reply(next);
    ASSERT_TRUE(next.legal[0].captured.empty());
    char text[32];
    std::snprintf(text, sizeof text, "M0000%02d%02d0319", next.legal[0].from, next.legal[0].to);
    ASSERT_FALSE(client_send_text(client, text));
    expect_stop("Capture counts dont match");
}

TEST_F(Hostile, ShortGivenPositionLeavesTheOtherSquaresEmpty) {
    start({"-t"});
    // A game first, so that the old board has pieces the short position must not keep.
    GameTracker first;
    request_game(first, 'Z');
    exchange_moves(first);
    end_game_by_client();

    // Squares 1-20 only: black men on 6-10, white men on 16-20, white to move; Kavro white.
    const std::string name = "short" + std::string(27, ' ');
    ASSERT_FALSE(client_send_text(client, "R01" + name + "W010050BWeeeeezzzzzeeeeewwwww"));
    ASSERT_EQ(next_message(), gameacc_text);
    GameTracker game;
    ASSERT_FALSE(game_start(game, "W:W16,17,18,19,20:B6,7,8,9,10"));
    expect_legal_reply(game);
    end_game_by_client();
    expect_still_serving();
    leave_and_expect_stop();
}

// GAMEEND twice is answered twice; a GAMEREQ in the middle of a game starts a new one. Each
// new game starts from the standard start, or the tracker refuses Kavro's first move.
TEST_F(Hostile, GameEndTwiceAndGameRequestInTheMiddleStartCleanGames) {
    start({"-t"});
    GameTracker game;
    request_game(game, 'Z');
    exchange_moves(game);
    end_game_by_client();
    end_game_by_client();
    for (int round = 0; round < 2; ++round) {
        request_game(game, 'W');
        expect_legal_reply(game);
        exchange_moves(game);
    }
    leave_and_expect_stop();
}

// ---- the client goes away ------------------------------------------------------------------

// Before any GAMEREQ, and in the middle of a message.
TEST_F(Hostile, DisconnectInTheMiddleOfAMessage) {
    start({"-t"});
    EXPECT_NE(server_engine_pid(server), 0); // so that its end is checked
    ASSERT_FALSE(client_send_bytes(client, "R01Rob", 6));
    pause_ms(100);
    leave_and_expect_stop();
    for (const std::string& line : log_lines()) EXPECT_EQ(line.find("GAMEREQ"), std::string::npos);
}

TEST_F(Hostile, DisconnectWhileKavroThinks) {
    start({"-t"}, 3000);
    GameTracker game;
    request_game(game, 'W');
    client_close(client);
    // Kavro's move is still awaited and sent into the closed connection; then the stop.
    expect_stop(lost_line, 20000);
    EXPECT_TRUE(server_printed(server, "waitfor_kavro_board_change", 0));
}

TEST_F(Hostile, DisconnectDuringTheResetAfterAGame) {
    start({"-t"});
    GameTracker game;
    request_game(game, 'Z');
    exchange_moves(game);
    ASSERT_FALSE(client_send(client, make_gameend(0, 0)));
    leave_and_expect_stop();
    EXPECT_EQ(log_count("Kavro command: \"n\""), 1) << "the reset ran before the stop";
}

} // namespace
