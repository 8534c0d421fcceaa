// pdn-compare MATCH.pdn LOG.pdn GAMES: the games dxp-match wrote and the games dxp-log2pdn
// took out of the server's log must be the same games: same start, same moves, same result.
// The server may have answered the initiator's last move before it read the initiator's
// GAMEEND, so a log game may hold one more move, by the server, at its end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/pdn/pdn.h"

namespace {

GameRecord match_games[64];
GameRecord log_games[64];

int read_games(const char* path, GameRecord* games, int limit) {
    FILE* file = fopen(path, "rb");
    if (!file) return printf("cannot read %s\n", path), -1;
    std::string text;
    for (int c; (c = fgetc(file)) != EOF;) text += char(c);
    fclose(file);
    PdnReader reader;
    start_pdn_reader(reader, text.data(), text.size());
    char error[200];
    int count = 0;
    for (PdnReadResult r; count < limit; ++count) {
        r = read_pdn_game(reader, games[count], error, sizeof error);
        if (r == pdn_end) break;
        if (r == pdn_error) return printf("%s: %s\n", path, error), -1;
    }
    return count;
}

bool same_move(const GameMove& a, const GameMove& b) {
    return a.from == b.from && a.to == b.to && a.capture_count == b.capture_count &&
           a.after == b.after;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        printf("usage: pdn-compare MATCH.pdn LOG.pdn GAMES\n");
        return 2;
    }
    fill_bit_count_table();
    build_ray_table();
    const int expected = atoi(argv[3]);
    const int n = read_games(argv[1], match_games, 64);
    const int m = read_games(argv[2], log_games, 64);
    if (n < 0 || m < 0) return 1;
    if (n != expected || m != expected) {
        printf("games: %d in %s, %d in %s, %d expected\n", n, argv[1], m, argv[2], expected);
        return 1;
    }
    int failures = 0;
    for (int g = 0; g < n; ++g) {
        const GameRecord& a = match_games[g];
        const GameRecord& b = log_games[g];
        int plies = a.ply_count;
        bool ok = a.start == b.start && a.start_white_to_move == b.start_white_to_move &&
                  a.custom_start == b.custom_start && strcmp(a.result, b.result) == 0 &&
                  strcmp(a.white, b.white) == 0 && strcmp(a.black, b.black) == 0 &&
                  (b.ply_count == plies || b.ply_count == plies + 1) && plies > 0 &&
                  strcmp(a.result, "*") != 0;
        for (int i = 0; ok && i < plies; ++i) ok = same_move(a.moves[i], b.moves[i]);
        if (ok && b.ply_count == plies + 1) {
            // The extra move is the server's, after a move of the initiator.
            const bool server_white = strcmp(b.white, "Kavro") == 0;
            ok = ((b.start_white_to_move + plies) % 2 == 1) == server_white;
        }
        printf("game %d: %d plies, %s %s\n", g + 1, plies, a.result, ok ? "same" : "DIFFERENT");
        failures += !ok;
    }
    return failures ? 1 : 0;
}
