// A server with its stand-in facing a client that misbehaves, or an engine that does. Every
// case ends with the server's own stop: its last line, exit status 1 (never a signal), and no
// stand-in left running.
#pragma once

#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

class Hostile : public EndToEnd {
  protected:
    // Starts the server with a stand-in configured by extra winkavro.ini lines. With
    // wait_for_client, waits until the server listens and connects the client.
    void start_with(const std::vector<std::string>& arguments, const std::string& ini_lines,
                    int move_time_ms = 100, bool wait_for_client = true) {
        ServerSetup setup = linux_server_setup(arguments, move_time_ms);
        setup.ini_text += ini_lines;
        ASSERT_FALSE(start_server(server, setup));
        if (!wait_for_client) return;
        ASSERT_FALSE(connect_to_server(server, client, start_timeout_ms));
    }

    // The server ends by itself within timeout_ms with status 1 and last_line as its last
    // line; its stand-in follows it.
    void expect_stop(const std::string& last_line, int timeout_ms = 15000) {
        const int64_t engine = server_engine_pid(server);
        ASSERT_TRUE(server_exited(server, timeout_ms)) << "the server did not stop";
        EXPECT_EQ(server.status, 1) << "1 is the only way out; above 128 is a signal";
        EXPECT_EQ(last_log_line(), last_line);
        expect_engine_gone(engine);
    }

    // The client goes: the server's last word is the lost connection.
    void leave_and_expect_stop() {
        client_close(client);
        expect_stop("Received: DXP_CONNECTIONLOST");
    }

    // The same for a last line that starts with prefix.
    void expect_stop_prefix(const std::string& prefix, int timeout_ms = 15000) {
        const int64_t engine = server_engine_pid(server);
        ASSERT_TRUE(server_exited(server, timeout_ms)) << "the server did not stop";
        EXPECT_EQ(server.status, 1);
        EXPECT_EQ(last_log_line().rfind(prefix, 0), 0u) << last_log_line();
        expect_engine_gone(engine);
    }

    void expect_engine_gone(int64_t engine) {
        if (engine == 0) return;
        const int64_t deadline = clock_ms() + 5000;
        while (process_running(engine) && clock_ms() < deadline) pause_ms(20);
        EXPECT_FALSE(process_running(engine)) << "the stand-in outlived the server";
    }

    // The connection and the game are still served: a BACKREQ gets its K1.
    void expect_still_serving() {
        ASSERT_FALSE(client_send(client, make_backreq(1, 'W')));
        EXPECT_EQ(next_message(), "K1");
    }

    // The server's next MOVE, checked against the legal moves and played on game.
    void expect_legal_reply(GameTracker& game) {
        DxpMessage move{};
        std::string text;
        for (;;) {
            ASSERT_EQ(client_receive_message(client, move, text, reply_timeout_ms),
                      received_message);
            if (move.type != DXP_CHAT) break;
        }
        ASSERT_EQ(move.type, DXP_MOVE) << text;
        ASSERT_EQ(game_apply_received(game, move), "") << text;
    }
};
