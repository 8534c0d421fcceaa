// The search and evaluation of the baseline commit (STRENGTH_BASELINE, 62429a5 unless make
// strength is given another BASELINE), the measure of make strength. Its sources are taken from
// git into the build folder and compiled here inside a namespace of their own, so
// that both engines live in one program without a clash of names; the standard and board
// headers they include come first, outside it.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "board/board.h"
#include "board/movegen.h"
#include "platform/platform.h"
#include "tools/strength/strength.h"

namespace baseline {
#include "standin/search.h"

#include "standin/evaluate.cpp"
#include "standin/search.cpp"
#ifdef STRENGTH_BASELINE_ENDGAME
#include "standin/endgame.cpp"
#endif
#ifdef STRENGTH_BASELINE_KINGS
#include "standin/kings.cpp"
#endif
} // namespace baseline

namespace {

Position history[max_game_plies + 1];

} // namespace

bool baseline_init(const char* program) {
    char path[512] = {};
#ifdef STRENGTH_BASELINE_ENDGAME
    path_beside(program, "endgame.bin", path, sizeof path);
    baseline::load_endgame(path);
#endif
#ifdef STRENGTH_BASELINE_KINGS
    // A baseline whose table file differs from today's reads its own, when one is there.
    path_beside(program, "baseline-kings.bin", path, sizeof path);
    if (FILE* own = fopen(path, "rb"))
        fclose(own);
    else
        path_beside(program, "kings.bin", path, sizeof path);
    baseline::load_kings(path);
#endif
    (void)program;
    (void)path;
    return baseline::search_init(32);
}

int baseline_player(const GameRecord& game, const LegalMoves& legal, int movetime_ms) {
    if (game.ply_count < 2) baseline::search_clear();
    MoveClock clock{clock_ms(), movetime_ms};
    baseline::SearchLimits limits;
    limits.should_stop = out_of_time;
    limits.context = &clock;
    const int count = game_history(game, history);
    const baseline::SearchReport report =
        baseline::search_position(legal.before, legal.white_to_move, limits, history, count);
    for (int i = 0; i < legal.count; ++i)
        if (legal.list.entries[i] == report.best) return i;
    return 0;
}
