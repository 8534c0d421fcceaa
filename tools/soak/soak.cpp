// dxp-soak: many short games on one connection against the real server and stand-in, every
// move of the server checked for legality, and the server's resident memory compared at the
// start and the end. Prints games per hour, moves per second and the memory figures; exit
// status 1 at the first fault.
//
//   dxp-soak [--games N] [--seed S] [--max-client-moves M] [--bin DIR] [--rss-limit-kb K]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tools/dxp_client/dxp_client.h"

namespace {

struct SoakOptions {
    int games = 200;
    uint32_t seed = 2024;
    int max_client_moves = 8; // short games: 1 to this many moves of the client
    std::string bin_dir;
    long rss_limit_kb = 1024; // growth beyond this between the first game and the last fails
};

// Positions with white to move (the server refuses black to move) that have moves for both
// sides: men only, mixed, and endgames of fewer than six pieces, which "-a" ends at the
// client's first move, so that the server ends games too.
const char* const custom_positions[] = {
    "W:W31,32,33,34,35,36,37,38:B11,12,13,14,15,16,17,18",
    "W:W27,28,32,33,37,38,42,43,47,48:B3,4,8,9,13,14,18,19,22,25",
    "W:W30,35,40,K45:B6,11,16,K1",
    "W:W26,31,36,41,46:B5,10,15,20,25",
};
const char* const small_endgames[] = {"W:WK46,K28:BK5,K19", "W:W31,K44:B7,K10"};

long resident_kb(int64_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

bool parse_options(int argc, char** argv, SoakOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value) {
            printf("dxp-soak: %s needs a value\n", argument.c_str());
            return true;
        }
        ++i;
        if (argument == "--games") {
            options.games = std::atoi(value);
        } else if (argument == "--seed") {
            options.seed = uint32_t(std::strtoul(value, nullptr, 10));
        } else if (argument == "--max-client-moves") {
            options.max_client_moves = std::atoi(value);
        } else if (argument == "--bin") {
            options.bin_dir = value;
        } else if (argument == "--rss-limit-kb") {
            options.rss_limit_kb = std::atol(value);
        } else {
            printf("usage: dxp-soak [--games N] [--seed S] [--max-client-moves M] [--bin DIR] "
                   "[--rss-limit-kb K]\n");
            return true;
        }
    }
    if (options.games < 1 || options.max_client_moves < 1) {
        printf("dxp-soak: --games and --max-client-moves must be at least 1\n");
        return true;
    }
    return false;
}

// The next message that is not a CHAT, or an empty text when none came in time.
std::string next_message(DxpClient& client, int timeout_ms) {
    std::string text;
    for (;;) {
        if (client_receive(client, text, timeout_ms) != received_message) return "";
        if (text[0] != 'C') return text;
    }
}

struct Totals {
    int games = 0;
    int ended_by_client = 0;
    int ended_by_server = 0;
    int client_had_no_move = 0;
    int custom = 0;
    long moves = 0;
};

// One game; an empty text when it went as it should, otherwise what went wrong.
std::string play_game(DxpClient& client, int number, const SoakOptions& options,
                      std::mt19937& random, Totals& totals) {
    constexpr int timeout_ms = 30000;
    const char server_colour = number % 2 == 0 ? 'W' : 'Z';
    std::string fen;
    if (number % 8 == 3) {
        fen = custom_positions[random() % (sizeof custom_positions / sizeof *custom_positions)];
        ++totals.custom;
    } else if (number % 8 == 7) {
        fen = small_endgames[random() % (sizeof small_endgames / sizeof *small_endgames)];
        ++totals.custom;
    }
    GameTracker game;
    if (game_start(game, fen)) return "bad custom position " + fen;
    if (client_send(client, make_gamereq(server_colour, fen, "soak"))) return "cannot send";
    const std::string accept = next_message(client, timeout_ms);
    if (accept.rfind("AKavro", 0) != 0) return "no GAMEACC but \"" + accept + "\"";

    const int moves = 1 + int(random() % uint32_t(options.max_client_moves));
    const PlayResult result =
        play_moves(client, game, server_colour != 'W', moves, uint32_t(random()), timeout_ms);
    if (!result.error.empty()) return result.error;
    totals.moves += result.client_moves + result.server_moves;

    if (!result.game_end.empty()) {
        // The server declared the result; the client's GAMEEND answers it and gets nothing.
        ++totals.ended_by_server;
        if (client_send(client, make_gameend(0, 0))) return "cannot send GAMEEND";
    } else {
        if (result.client_has_no_move) ++totals.client_had_no_move;
        ++totals.ended_by_client;
        if (client_send(client, make_gameend(0, 0))) return "cannot send GAMEEND";
        const std::string end = next_message(client, timeout_ms);
        if (end != "E00") return "no E00 after the client's GAMEEND but \"" + end + "\"";
    }
    ++totals.games;
    return "";
}

} // namespace

int main(int argc, char** argv) {
    setup_line_output();
    SoakOptions options;
    if (parse_options(argc, argv, options)) return 1;

    // The adjudication lets the server end games too; the stand-in moves at once.
    ServerRun server;
    DxpClient client;
    ServerSetup setup = linux_server_setup({"-a"}, 1, options.bin_dir);
    if (start_server(server, setup)) return 1;
    if (connect_to_server(server, client, 60000)) {
        read_server_log(server);
        printf("dxp-soak: no connection to the server:\n%s", server.log.c_str());
        return 1;
    }
    const long rss_before_games = resident_kb(server.pid);

    std::mt19937 random(options.seed);
    Totals totals;
    long rss_after_first = -1;
    const auto start = std::chrono::steady_clock::now();
    for (int number = 0; number < options.games; ++number) {
        const std::string error = play_game(client, number, options, random, totals);
        if (!error.empty()) {
            read_server_log(server);
            const size_t tail = server.log.size() > 3000 ? server.log.size() - 3000 : 0;
            printf("dxp-soak: game %d: %s\n---- end of the server log ----\n%s", number + 1,
                   error.c_str(), server.log.c_str() + tail);
            return 1;
        }
        if (number == 0) rss_after_first = resident_kb(server.pid);
        if ((number + 1) % 20 == 0)
            printf("dxp-soak: %d games, %ld moves, VmRSS %ld kB\n", number + 1, totals.moves,
                   resident_kb(server.pid));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long rss_end = resident_kb(server.pid);

    printf("dxp-soak: %d games in %.0f s on one connection: %d ended by the client (%d with no "
           "move left), %d by the server, %d from custom positions; %ld moves, each checked\n",
           totals.games, seconds, totals.ended_by_client, totals.client_had_no_move,
           totals.ended_by_server, totals.custom, totals.moves);
    printf("dxp-soak: %.0f games per hour, %.2f moves per second\n",
           totals.games * 3600.0 / seconds, double(totals.moves) / seconds);
    printf("dxp-soak: server VmRSS %ld kB before the first game, %ld kB after it, %ld kB at the "
           "end (%+ld kB since the first game)\n",
           rss_before_games, rss_after_first, rss_end, rss_end - rss_after_first);
    if (rss_before_games < 0 || rss_end < 0) {
        printf("dxp-soak: cannot read the server's VmRSS\n");
        return 1;
    }
    if (rss_end - rss_after_first > options.rss_limit_kb) {
        printf("dxp-soak: the server's memory grew by more than %ld kB\n", options.rss_limit_kb);
        return 1;
    }
    client_close(client);
    if (!server_exited(server, 10000) || server.status != 1) {
        printf("dxp-soak: the server did not stop with status 1 after the client left\n");
        return 1;
    }
    printf("dxp-soak: passed\n");
    return 0;
}
