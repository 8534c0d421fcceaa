// One server with its stand-in and one connected client per test; the log is shown when a
// test fails, and both processes are gone when it ends.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/dxp_client/dxp_client.h"

constexpr int start_timeout_ms = 30000; // start-up with the engine test takes some seconds
constexpr int reply_timeout_ms = 15000;

inline const std::string gameacc_text = "AKavro" + std::string(27, ' ') + "0";
inline const std::string lost_line = "Received: DXP_CONNECTIONLOST";

class EndToEnd : public testing::Test {
  protected:
    ServerRun server;
    DxpClient client;

    void TearDown() override {
        client_close(client);
        stop_server(server);
        // A sanitizer build reports on the server's output, with the usual exit status 1.
        EXPECT_EQ(server.log.find("Sanitizer"), std::string::npos);
        if (HasFailure())
            printf("---- server log ----\n%s---- end of log ----\n", server.log.c_str());
    }

    // Starts the server with a stand-in thinking move_time_ms and extra winkavro.ini lines;
    // with a client, waits until the server listens and connects it.
    void start(const std::vector<std::string>& arguments, int move_time_ms = 100,
               const std::string& ini_lines = "", bool with_client = true) {
        ServerSetup setup = linux_server_setup(arguments, move_time_ms);
        setup.ini_text += ini_lines;
        ASSERT_FALSE(start_server(server, setup));
        if (!with_client) return;
        ASSERT_FALSE(connect_to_server(server, client, start_timeout_ms));
    }

    // Sends a GAMEREQ and expects the GAMEACC; the tracker starts from the same position.
    void request_game(GameTracker& game, char server_colour, const std::string& fen = "") {
        ASSERT_FALSE(game_start(game, fen));
        ASSERT_FALSE(client_send(client, make_gamereq(server_colour, fen)));
        EXPECT_EQ(next_message(), gameacc_text);
    }

    // The next message that is not a CHAT.
    std::string next_message(int timeout_ms = reply_timeout_ms) {
        std::string text;
        do {
            if (client_receive(client, text, timeout_ms) != received_message) return "(none)";
        } while (text[0] == 'C');
        return text;
    }

    // The server's next MOVE, checked against the legal moves and played on game.
    DxpMessage expect_legal_reply(GameTracker& game) {
        DxpMessage move{};
        std::string text;
        do {
            if (client_receive_message(client, move, text, reply_timeout_ms) != received_message) {
                ADD_FAILURE() << "no MOVE from the server";
                return move;
            }
        } while (move.type == DXP_CHAT);
        EXPECT_EQ(move.type, DXP_MOVE) << text;
        EXPECT_EQ(game_apply_received(game, move), "") << text;
        return move;
    }

    // The client plays its first legal move (a capture whenever one is due) and gets a reply.
    void exchange_moves(GameTracker& game) {
        ASSERT_FALSE(game.legal.empty());
        ASSERT_FALSE(client_send(client, game_play(game, 0)));
        expect_legal_reply(game);
    }

    // The client ends the game and gets E00; the reset follows before the next message.
    void end_game_by_client() {
        ASSERT_FALSE(client_send(client, make_gameend(0, 0)));
        EXPECT_EQ(next_message(), "E00");
    }

    // The connection and the game are still served: a BACKREQ gets its K1.
    void expect_still_serving() {
        ASSERT_FALSE(client_send(client, make_backreq(1, 'W')));
        EXPECT_EQ(next_message(), "K1");
    }

    // The server ends by itself with status 1 (above 128 is a signal) and its last line is
    // last_line (or starts with it); its stand-in follows it.
    void expect_stop(const std::string& last_line, int timeout_ms = 15000, bool prefix = false) {
        const int64_t engine = server_engine_pid(server);
        ASSERT_TRUE(server_exited(server, timeout_ms)) << "the server did not stop";
        EXPECT_EQ(server.status, 1);
        const std::string last = last_log_line();
        EXPECT_EQ(prefix ? last.substr(0, last_line.size()) : last, last_line) << last;
        const int64_t deadline = clock_ms() + 5000;
        while (engine != 0 && process_running(engine) && clock_ms() < deadline) pause_ms(20);
        EXPECT_TRUE(engine == 0 || !process_running(engine)) << "the stand-in outlived the server";
    }

    void leave_and_expect_stop() {
        client_close(client);
        expect_stop(lost_line);
    }

    // The log's lines, without the CR of a Windows server's line ends.
    std::vector<std::string> log_lines() {
        std::vector<std::string> lines = server_log_lines(server);
        for (std::string& line : lines)
            if (!line.empty() && line.back() == '\r') line.pop_back();
        return lines;
    }

    // The server prints "Sent:" after its send returns, so the client may hold a reply before
    // its line is in the log: wait, within a bound, for the count to reach expected.
    int log_count(const std::string& line, int expected = 0, int timeout_ms = 3000) {
        const int64_t deadline = clock_ms() + timeout_ms;
        for (;;) {
            const std::vector<std::string> lines = log_lines();
            const int count = int(std::count(lines.begin(), lines.end(), line));
            if (count >= expected || clock_ms() >= deadline) return count;
            pause_ms(20);
        }
    }

    std::string last_log_line() {
        const std::vector<std::string> lines = log_lines();
        return lines.empty() ? "" : lines.back();
    }
};

class Hostile : public EndToEnd {};
