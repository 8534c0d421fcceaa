// bench-standin: the stand-in's search speed at a fixed depth from fixed positions, and a short
// match against a player that picks a random legal move. The match must score at least 95%.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "board/fen.h"
#include "standin/search.h"

namespace {

struct SpeedCase {
    const char* name;
    const char* fen;
    int depth;
};

constexpr SpeedCase speed_cases[] = {
    {"start", "W:W31-50:B1-20.", 13},
    {"middle game",
     "W:W27,28,31,32,33,34,36,37,38,39,40,42,43,44,45,47,48:B6,7,8,9,11,12,13,14,"
     "15,16,17,18,19,20,22,23,24.",
     13},
    {"ending with kings", "W:WK46,28,34,36,39:BK5,12,14,17,20.", 12},
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

uint64_t random_state = 0x2545F4914F6CDD1Dull;
uint32_t next_random() {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 7;
    random_state ^= random_state << 17;
    return uint32_t(random_state >> 32);
}

MoveList random_list;
Position game_history[1024];

int material(const Position& p, int white) {
    uint64_t own = white ? p.white : p.black;
    return __builtin_popcountll(own & ~p.kings) + 3 * __builtin_popcountll(own & p.kings);
}

// One game: the engine plays white when engine_white. Returns the engine's points times 2.
int play_game(int opening, bool engine_white, int depth, int move_cap) {
    Position p{};
    int white_to_move = 1;
    char error[128];
    parse_fen("W:W31-50:B1-20.", p, white_to_move, error, sizeof error);
    // Varied openings: the first moves of both sides drawn at random, the same for both
    // colour assignments of an opening.
    random_state = 0x9E3779B97F4A7C15ull * uint64_t(opening + 1);
    int history_count = 0;
    search_clear();
    for (int ply = 0; ply < move_cap; ++ply) {
        int count = legal_moves(p, white_to_move, random_list);
        if (count == 0) { // the side to move has lost
            bool engine_lost = (white_to_move != 0) == engine_white;
            return engine_lost ? 0 : 2;
        }
        Position next;
        bool engine_moves = (white_to_move != 0) == engine_white;
        if (ply < 4 || !engine_moves) {
            next = random_list.entries[next_random() % uint32_t(count)];
        } else {
            SearchLimits limits;
            limits.max_depth = depth;
            SearchReport report =
                search_position(p, white_to_move, limits, game_history, history_count);
            next = report.best;
        }
        if (move_is_irreversible(p, next, white_to_move))
            history_count = 0;
        else if (history_count < 1024)
            game_history[history_count++] = p;
        p = next;
        white_to_move = !white_to_move;
    }
    // Adjudicated by material (a king counts three men).
    int engine_material = material(p, engine_white), other = material(p, !engine_white);
    return engine_material > other ? 2 : engine_material == other ? 1 : 0;
}

} // namespace

int main() {
    if (search_init(32)) return 1;

    uint64_t total_nodes = 0;
    double total_seconds = 0;
    for (const SpeedCase& c : speed_cases) {
        Position p{};
        int white_to_move = 1;
        char error[128];
        if (parse_fen(c.fen, p, white_to_move, error, sizeof error)) {
            printf("bad position %s: %s\n", c.name, error);
            return 1;
        }
        search_clear();
        SearchLimits limits;
        limits.max_depth = c.depth;
        auto start = std::chrono::steady_clock::now();
        SearchReport report = search_position(p, white_to_move, limits);
        double seconds = seconds_since(start);
        total_nodes += report.nodes;
        total_seconds += seconds;
        printf("search %-18s depth %2d: %9llu nodes in %6.3f s, %8.0f nodes/s, score %d\n", c.name,
               report.depth, static_cast<unsigned long long>(report.nodes), seconds,
               double(report.nodes) / seconds, report.score);
    }
    printf("search speed: %.0f nodes/s\n", double(total_nodes) / total_seconds);

    constexpr int games = 40, depth = 4, move_cap = 200;
    int points2 = 0, wins = 0, draws = 0, losses = 0;
    auto start = std::chrono::steady_clock::now();
    for (int g = 0; g < games; ++g) {
        int result = play_game(g / 2, g % 2 == 0, depth, move_cap);
        points2 += result;
        (result == 2 ? wins : result == 1 ? draws : losses)++;
    }
    double percent = 100.0 * points2 / (2.0 * games);
    printf("match against a random mover: %d games at depth %d, %d won, %d drawn, %d lost, "
           "score %.1f%% (%.1f s)\n",
           games, depth, wins, draws, losses, percent, seconds_since(start));
    if (percent < 95.0) {
        printf("The stand-in scored below 95%% against a random mover.\n");
        return 1;
    }
    return 0;
}
