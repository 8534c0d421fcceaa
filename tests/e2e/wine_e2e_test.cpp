// The Windows server and stand-in (build-win/bin) under wine, driven by the same DXP client as
// the Linux end-to-end tests: the start-up test, games with captures for both colours, the
// answer to the client's GAMEEND and Kavro's reset, and the stop on the client's disconnect.
// The wine prefix is made and ended by the wine_prefix and wine_stop tests around this one.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/e2e/e2e_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr int wine_start_timeout_ms = 120000; // the first wine program of a session is slow

// After 32-28 19-23 from the standard start, white to move: white must take 28x19, and
// black must take back at once.
const char* const exchange_fen = "W:W28,31,33-50:B1-18,20,23";

std::string environment(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

std::string file_text(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The stand-ins running in this test's wine prefix. Wine starts a Windows child apart from
// its parent's process tree, so they are found by name and prefix among all processes.
std::vector<int64_t> standins_in_prefix() {
    const std::string prefix_entry = "WINEPREFIX=" + environment("WINEPREFIX");
    std::vector<int64_t> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            file_text(entry.path() / "cmdline").find("winkavro.exe") == std::string::npos)
            continue;
        // The environment is a run of zero-terminated entries; an ended process has none.
        std::istringstream entries(file_text(entry.path() / "environ"));
        for (std::string item; std::getline(entries, item, '\0');)
            if (item == prefix_entry) found.push_back(std::stoll(name));
    }
    return found;
}

class WineEndToEnd : public EndToEnd {
  protected:
    const std::string bin = environment("KAVRO_WINDOWS_BIN");

    void SetUp() override {
        for (const char* name : {"kavro-dxp.exe", "winkavro.exe"})
            if (!fs::exists(bin + "/" + name))
                GTEST_SKIP() << bin << "/" << name << " is missing (make windows builds it)";
        if (!fs::exists(environment("WINEPREFIX") + "/.kavro-ready"))
            GTEST_SKIP() << "no wine prefix (no wine, or the wine_prefix test did not run)";
    }

    void start_windows_server(bool with_engine) {
        ServerSetup setup;
        setup.command = {"wine", "{dir}/kavro-dxp.exe"};
        setup.files = {bin + "/kavro-dxp.exe"};
        if (with_engine) setup.files.push_back(bin + "/winkavro.exe");
        setup.environment = {"WINEPREFIX=" + environment("WINEPREFIX"), "WINEDEBUG=-all"};
        setup.ini_text = "movetime_ms=100\n";
        ASSERT_FALSE(start_server(server, setup));
    }

    // Connects and waits until the server has accepted the client. One that comes just as a
    // one-second accept attempt ends is dropped with the closing listener: it connects again.
    bool connect_client() {
        const std::string accepted = "DamExchange server has accepted a client connection.";
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (client_connect(client, 20000)) return false;
            if (server_printed(server, accepted, 2000)) return true;
            if (!client_sees_close(client, 2000)) return server_printed(server, accepted, 10000);
            client_close(client);
        }
        return false;
    }

    // The client's first legal move, a capture whenever one is due, typed into Kavro.
    DxpMessage play_first_move(GameTracker& game) {
        EXPECT_FALSE(game.legal.empty());
        const DxpMessage move = game_play(game, 0);
        EXPECT_FALSE(client_send(client, move));
        EXPECT_TRUE(server_printed(server,
                                   "Kavro command: \"" + std::to_string(move.move.from_square) +
                                       "-" + std::to_string(move.move.to_square) + "\"",
                                   reply_timeout_ms));
        return move;
    }

    // The server answers the client's GAMEEND with E00 and types "n" for the standard start.
    void end_game_and_expect_reset() {
        end_game_by_client();
        EXPECT_TRUE(server_printed(server, "Received: \"E00\"", reply_timeout_ms));
        EXPECT_TRUE(server_printed(server, "Kavro command: \"n\"", reply_timeout_ms));
    }
};

TEST_F(WineEndToEnd, StartupTestGamesWithCapturesBothWaysResetAndStopOnDisconnect) {
    ASSERT_TRUE(standins_in_prefix().empty()) << "a stand-in of an earlier run is still there";
    start_windows_server(true);
    ASSERT_TRUE(server_printed(server, "Window created.", wine_start_timeout_ms));
    EXPECT_EQ(standins_in_prefix().size(), 1u);
    ASSERT_TRUE(server_printed(server, "Waiting for client connection.", 10000));
    // The start-up test ran in full before the window was made.
    for (const char* command : {"31-26", "19-23", "kca"})
        EXPECT_EQ(log_count("Kavro command: \"" + std::string(command) + "\""), 1);
    ASSERT_TRUE(connect_client());

    // Kavro as white takes first, then the client takes back; and the other way round.
    GameTracker game;
    for (const bool kavro_white : {true, false}) {
        request_game(game, kavro_white ? 'W' : 'Z', exchange_fen);
        if (kavro_white) {
            EXPECT_EQ(expect_legal_reply(game).move.capture_count, 1);
        }
        const DxpMessage taken = play_first_move(game);
        EXPECT_EQ(taken.move.capture_count, 1);
        if (!kavro_white) {
            EXPECT_EQ(taken.move.from_square * 100 + taken.move.to_square, 2819);
        }
        const DxpMessage reply = expect_legal_reply(game);
        if (!kavro_white) {
            EXPECT_EQ(reply.move.capture_count, 1);
        }
        const PlayResult played =
            play_moves(client, game, !kavro_white, 2, kavro_white ? 11 : 12, reply_timeout_ms);
        ASSERT_EQ(played.error, "");
        end_game_and_expect_reset();
    }

    // Nothing is written into Kavro for a game from the standard start: its first move shows
    // that the reset left the standard start on its board.
    request_game(game, 'W');
    expect_legal_reply(game);
    end_game_and_expect_reset();

    client_close(client);
    EXPECT_TRUE(server_printed(server, lost_line, 20000));
    ASSERT_TRUE(server_exited(server, 20000)) << "the server did not stop";
    EXPECT_EQ(server.status, 1);
    const int64_t deadline = clock_ms() + 10000;
    while (!standins_in_prefix().empty() && clock_ms() < deadline) pause_ms(50);
    EXPECT_TRUE(standins_in_prefix().empty()) << "the stand-in outlived the server";
}

TEST_F(WineEndToEnd, MissingEngineIsReportedWithTheSystemsText) {
    start_windows_server(false);
    ASSERT_TRUE(server_exited(server, wine_start_timeout_ms)) << "the server did not stop";
    EXPECT_EQ(server.status, 1);
    // "CreateProcess; " and the system's own text, in one line.
    const std::string last = last_log_line();
    EXPECT_EQ(last.rfind("CreateProcess; ", 0), 0u) << last;
    EXPECT_GT(last.size(), std::string("CreateProcess; ").size()) << last;
}

} // namespace
