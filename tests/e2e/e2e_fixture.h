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

class EndToEnd : public testing::Test {
  protected:
    ServerRun server;
    DxpClient client;

    void TearDown() override {
        client_close(client);
        stop_server(server);
        // A sanitizer build reports its findings on the server's output, with the same exit
        // status 1 as every stop.
        EXPECT_EQ(server.log.find("Sanitizer"), std::string::npos);
        if (HasFailure())
            printf("---- server log ----\n%s---- end of log ----\n", server.log.c_str());
    }

    // Starts the server with arguments and a stand-in thinking move_time_ms, waits until it
    // listens and connects the client.
    void start(const std::vector<std::string>& arguments, int move_time_ms = 100) {
        ASSERT_FALSE(start_server(server, linux_server_setup(arguments, move_time_ms)));
        ASSERT_FALSE(connect_to_server(server, client, start_timeout_ms));
    }

    // Sends a GAMEREQ and expects the GAMEACC; the tracker starts from the same position.
    void request_game(GameTracker& game, char server_colour, const std::string& fen = "") {
        ASSERT_FALSE(game_start(game, fen));
        ASSERT_FALSE(client_send(client, make_gamereq(server_colour, fen)));
        std::string text;
        ASSERT_EQ(client_receive(client, text, reply_timeout_ms), received_message);
        ASSERT_EQ(text, gameacc_text);
    }

    // The next message that is not a CHAT.
    std::string next_message(int timeout_ms = reply_timeout_ms) {
        std::string text;
        for (;;) {
            if (client_receive(client, text, timeout_ms) != received_message) return "(none)";
            if (text[0] != 'C') return text;
        }
    }

    // The client ends the game and gets E00; the reset follows before the next message.
    void end_game_by_client() {
        ASSERT_FALSE(client_send(client, make_gameend(0, 0)));
        EXPECT_EQ(next_message(), "E00");
    }

    // The client goes; the server says so and ends with status 1, its stand-in after it.
    void expect_stop_on_disconnect() {
        const int64_t engine = server_engine_pid(server);
        client_close(client);
        EXPECT_TRUE(server_printed(server, "Received: DXP_CONNECTIONLOST", 10000));
        expect_exit_1();
        if (engine != 0) {
            const int64_t deadline = clock_ms() + 5000;
            while (process_running(engine) && clock_ms() < deadline) pause_ms(50);
            EXPECT_FALSE(process_running(engine)) << "the stand-in outlived the server";
        }
    }

    void expect_exit_1() {
        ASSERT_TRUE(server_exited(server, 10000)) << "the server did not stop";
        EXPECT_EQ(server.status, 1);
    }

    int log_count(const std::string& line) {
        const std::vector<std::string> lines = server_log_lines(server);
        return int(std::count(lines.begin(), lines.end(), line));
    }

    // The server prints "Sent:" after its send returns, so the client may hold a reply before
    // its line is in the log: wait, within a bound, for the count to be reached.
    int log_count_reaching(const std::string& line, int expected, int timeout_ms = 3000) {
        const int64_t deadline = clock_ms() + timeout_ms;
        int count = log_count(line);
        while (count < expected && clock_ms() < deadline) {
            pause_ms(20);
            count = log_count(line);
        }
        return count;
    }

    std::string last_log_line() {
        const std::vector<std::string> lines = server_log_lines(server);
        return lines.empty() ? "" : lines.back();
    }
};
