// The Windows server and stand-in (build-win/bin) under wine, driven by the same DXP client as
// the Linux end-to-end tests: the start-up test, games with captures for both colours, the
// answer to the client's GAMEEND and Kavro's reset, and the stop on the client's disconnect.
// The wine prefix is made and ended by the wine_prefix and wine_stop tests around this one.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/e2e/e2e_fixture.h"

namespace {

constexpr int wine_start_timeout_ms = 120000; // the first wine program of a session is slow

// After 32-28 19-23 from the standard start, white to move: white must take 28x19, and
// black must take back at once.
const char* const exchange_fen = "W:W28,31,33-50:B1-18,20,23";

std::string windows_bin_dir() {
    const char* configured = getenv("KAVRO_WINDOWS_BIN");
    return configured ? configured : "";
}

bool have_windows_programs(std::string& why) {
    const std::string bin = windows_bin_dir();
    for (const char* name : {"kavro-dxp.exe", "winkavro.exe"}) {
        if (!std::filesystem::exists(bin + "/" + name)) {
            why = bin + "/" + name + " is missing (make windows builds it)";
            return false;
        }
    }
    const char* prefix = getenv("WINEPREFIX");
    if (prefix == nullptr || !std::filesystem::exists(std::string(prefix) + "/.kavro-ready")) {
        why = "no wine prefix (wine is not installed, or the wine_prefix test did not run)";
        return false;
    }
    return true;
}

ServerSetup windows_server_setup(const std::vector<std::string>& arguments, bool with_engine) {
    const std::string bin = windows_bin_dir();
    ServerSetup setup;
    setup.command = {"wine", "{dir}/kavro-dxp.exe"};
    setup.command.insert(setup.command.end(), arguments.begin(), arguments.end());
    setup.files = {bin + "/kavro-dxp.exe"};
    if (with_engine) setup.files.push_back(bin + "/winkavro.exe");
    setup.environment = {std::string("WINEPREFIX=") + getenv("WINEPREFIX"), "WINEDEBUG=-all"};
    setup.ini_text = "movetime_ms=100\n";
    return setup;
}

int captured_count(const DxpMessage& move) {
    return move.move.capture_count;
}

// The line of the command typed into Kavro for a single move of the client's.
std::string typed_line(const DxpMessage& move) {
    return "Kavro command: \"" + std::to_string(move.move.from_square) + "-" +
           std::to_string(move.move.to_square) + "\"";
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The stand-ins that run in this test's wine prefix. Wine starts a Windows child apart from
// its parent's process tree, so they are found by name and prefix among all processes.
std::vector<int64_t> standins_in_prefix() {
    namespace fs = std::filesystem;
    const std::string prefix_entry = std::string("WINEPREFIX=") + getenv("WINEPREFIX");
    std::vector<int64_t> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        if (file_text(entry.path() / "cmdline").find("winkavro.exe") == std::string::npos) {
            continue;
        }
        // The environment is a run of zero-terminated entries; an ended process has none.
        std::istringstream environment(file_text(entry.path() / "environ"));
        for (std::string item; std::getline(environment, item, '\0');) {
            if (item == prefix_entry) {
                found.push_back(std::stoll(name));
                break;
            }
        }
    }
    return found;
}

// A Windows program writes its lines with CR LF: the lines of the log without either.
std::vector<std::string> windows_log_lines(ServerRun& run) {
    std::vector<std::string> lines = server_log_lines(run);
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
    }
    return lines;
}

class WineEndToEnd : public EndToEnd {
  protected:
    size_t lines_seen = 0; // printed() looks at the lines after the last one it found

    void SetUp() override {
        std::string why;
        if (!have_windows_programs(why)) GTEST_SKIP() << why;
    }

    // Waits at most timeout_ms for the line, after the last line found this way.
    bool printed(const std::string& wanted, int timeout_ms) {
        const int64_t deadline = clock_ms() + timeout_ms;
        for (;;) {
            const bool ended = server_exited(server, 0);
            const std::vector<std::string> lines = windows_log_lines(server);
            for (size_t i = lines_seen; i < lines.size(); ++i) {
                if (lines[i] == wanted) {
                    lines_seen = i + 1;
                    return true;
                }
            }
            if (ended || clock_ms() >= deadline) return false;
            pause_ms(20);
        }
    }

    int count(const std::string& wanted) {
        const std::vector<std::string> lines = windows_log_lines(server);
        return int(std::count(lines.begin(), lines.end(), wanted));
    }

    // Connects the client and waits until the server has accepted it. A client that comes
    // just as a one-second accept attempt ends is dropped with the closing listener: then it
    // connects again.
    bool connect_client() {
        const std::string accepted = "DamExchange server has accepted a client connection.";
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (client_connect(client, 20000)) return false;
            if (printed(accepted, 2000)) return true;
            if (!client_sees_close(client, 2000)) return printed(accepted, 10000);
            client_close(client);
        }
        return false;
    }

    // The server's next MOVE, checked against the legal moves and played on the tracker.
    DxpMessage expect_server_move(GameTracker& game) {
        DxpMessage move{};
        std::string text;
        for (;;) {
            EXPECT_EQ(client_receive_message(client, move, text, reply_timeout_ms),
                      received_message);
            if (text.empty() || text[0] != 'C') break;
        }
        EXPECT_EQ(text.substr(0, 1), "M") << text;
        EXPECT_EQ(game_apply_received(game, move), "") << text;
        return move;
    }

    // The client's own move: the first legal one, which is a capture whenever one is due.
    DxpMessage play_first_move(GameTracker& game) {
        EXPECT_FALSE(game.legal.empty());
        const DxpMessage move = game_play(game, 0);
        EXPECT_FALSE(client_send(client, move));
        return move;
    }

    // The client ends the game: the server answers E00, takes Kavro off both colours and types
    // "n" to bring back the standard start.
    void end_game_and_expect_reset() {
        end_game_by_client();
        EXPECT_TRUE(printed("Received: \"E00\"", reply_timeout_ms));
        EXPECT_TRUE(printed("Kavro command: \"n\"", reply_timeout_ms));
    }

    // The client goes: the server says so and ends with status 1, its stand-in after it.
    void expect_stop_on_disconnect_windows() {
        client_close(client);
        EXPECT_TRUE(printed("Received: DXP_CONNECTIONLOST", 20000));
        ASSERT_TRUE(server_exited(server, 20000)) << "the server did not stop";
        EXPECT_EQ(server.status, 1);
        const int64_t deadline = clock_ms() + 10000;
        while (!standins_in_prefix().empty() && clock_ms() < deadline) pause_ms(50);
        EXPECT_TRUE(standins_in_prefix().empty()) << "the stand-in outlived the server";
    }
};

TEST_F(WineEndToEnd, StartupTestGamesWithCapturesBothWaysResetAndStopOnDisconnect) {
    ASSERT_TRUE(standins_in_prefix().empty()) << "a stand-in of an earlier run is still there";
    ASSERT_FALSE(start_server(server, windows_server_setup({}, true)));
    ASSERT_TRUE(printed("Window created.", wine_start_timeout_ms));
    EXPECT_EQ(standins_in_prefix().size(), 1u);
    ASSERT_TRUE(printed("Waiting for client connection.", 10000));
    // The start-up test ran in full before the window was made.
    EXPECT_EQ(count("Kavro command: \"31-26\""), 1);
    EXPECT_EQ(count("Kavro command: \"19-23\""), 1);
    EXPECT_EQ(count("Kavro command: \"kca\""), 1);
    ASSERT_TRUE(connect_client());

    // Kavro as white: it must take first, then the client takes back.
    GameTracker game;
    request_game(game, 'W', exchange_fen);
    EXPECT_EQ(captured_count(expect_server_move(game)), 1);
    DxpMessage taken = play_first_move(game);
    EXPECT_EQ(captured_count(taken), 1);
    EXPECT_TRUE(printed(typed_line(taken), reply_timeout_ms));
    expect_server_move(game);
    PlayResult played = play_moves(client, game, false, 2, 11, reply_timeout_ms);
    ASSERT_EQ(played.error, "");
    end_game_and_expect_reset();

    // Kavro as black: the client takes first, then Kavro must take back.
    request_game(game, 'Z', exchange_fen);
    taken = play_first_move(game);
    EXPECT_EQ(captured_count(taken), 1);
    EXPECT_EQ(typed_line(taken), "Kavro command: \"28-19\"");
    EXPECT_TRUE(printed(typed_line(taken), reply_timeout_ms));
    EXPECT_EQ(captured_count(expect_server_move(game)), 1);
    played = play_moves(client, game, true, 2, 12, reply_timeout_ms);
    ASSERT_EQ(played.error, "");
    end_game_and_expect_reset();

    // Nothing is written into Kavro for a game from the standard start: its first move shows
    // that the reset left the standard start on its board.
    request_game(game, 'W');
    expect_server_move(game);
    end_game_and_expect_reset();

    expect_stop_on_disconnect_windows();
}

TEST_F(WineEndToEnd, MissingEngineIsReportedWithTheSystemsText) {
    ASSERT_FALSE(start_server(server, windows_server_setup({}, false)));
    ASSERT_TRUE(server_exited(server, wine_start_timeout_ms)) << "the server did not stop";
    EXPECT_EQ(server.status, 1);
    const std::vector<std::string> lines = windows_log_lines(server);
    ASSERT_FALSE(lines.empty());
    // "CreateProcess; " and the system's own text, in one line.
    EXPECT_EQ(lines.back().rfind("CreateProcess; ", 0), 0u) << lines.back();
    EXPECT_GT(lines.back().size(), std::string("CreateProcess; ").size()) << lines.back();
}

} // namespace
