// Our side of the board: the stand-in's search at a fixed time per move, or random legal moves.
#include <cstdio>

#include "platform/platform.h"
#include "standin/search.h"
#include "tools/dxp_match/match.h"

uint64_t random_state = 1;
uint64_t next_random() {
    random_state ^= random_state >> 12;
    random_state ^= random_state << 25;
    random_state ^= random_state >> 27;
    return random_state * 0x2545F4914F6CDD1Dull;
}

namespace {

PlayerKind kind = player_random;
int move_time_ms = 1000;

struct SearchClock {
    int64_t start;
    int64_t budget;
};

bool out_of_time(void* context, bool between_iterations) {
    const SearchClock& clock = *static_cast<SearchClock*>(context);
    const int64_t used = clock_ms() - clock.start;
    // A new iteration takes longer than all before it: do not start one past half the time.
    return between_iterations ? used * 2 >= clock.budget : used >= clock.budget;
}

Position history[max_game_plies + 1];

} // namespace

bool start_player(const MatchOptions& options) {
    kind = options.player;
    move_time_ms = options.move_time_ms;
    // A zero seed would leave xorshift at zero for ever.
    random_state = options.seed ? options.seed : 0x9E3779B97F4A7C15ull;
    if (kind == player_engine && search_init(32)) return true;
    return false;
}

void new_game_for_player() {
    if (kind == player_engine) search_clear();
}

int choose_move(const GameRecord& game, const LegalMoves& legal) {
    if (legal.count <= 1) return 0;
    if (kind == player_random) return int(next_random() % uint64_t(legal.count));

    // The positions before the root, so that the search sees repetitions coming.
    int history_count = 0;
    history[history_count++] = game.start;
    for (int i = 0; i + 1 < game.ply_count; ++i) history[history_count++] = game.moves[i].after;
    if (game.ply_count == 0) history_count = 0;

    SearchClock clock{clock_ms(), move_time_ms};
    SearchLimits limits;
    limits.should_stop = out_of_time;
    limits.context = &clock;
    SearchReport report =
        search_position(legal.before, legal.white_to_move, limits, history, history_count);
    if (report.has_move)
        for (int i = 0; i < legal.count; ++i)
            if (legal.list.entries[i] == report.best) return i;
    // The search always names a listed move; should it not, play on rather than stop.
    printf("The engine named no legal move; playing the first one.\n");
    return 0;
}
