// Judging whether the game is decided, from the material and Kavro's own score.
#include <cstdio>
#include <cstdlib>

#include "board/movegen.h"
#include "engine/engine.h"

int32_t draw_count;

int adjudicate_position(const Position& position, bool kavro_plays_white, int32_t score) {
    if (position.black == 0) return kavro_plays_white ? result_kavro_won : result_kavro_lost;
    if (position.white == 0) return kavro_plays_white ? result_kavro_lost : result_kavro_won;
    if (side_has_capture(position, kavro_plays_white ? 1 : 0)) return result_undecided;
    const int pieces = piece_count(position);
    if (pieces > 14) {
        draw_count = 0;
        return result_undecided;
    }
    if (score >= 270) return result_kavro_won;
    if (score <= -270) return result_kavro_lost;
    if (score == 0) {
        ++draw_count;
        print_line("Draw count %d\n", draw_count);
        if (draw_count >= 5) return result_draw;
    } else {
        draw_count = 0;
    }
    if (pieces > 8) return result_undecided;
    if (std::abs(score) <= 10) return result_draw;
    // By now Kavro has replied on its own board; the score it shows is its ponder score.
    // Without that score nothing is known, so the game stays undecided.
    int16_t ponder_score = 0;
    if (read_kavro_score(ponder_score)) return result_undecided;
    if (std::abs(int(ponder_score)) > 5) return result_undecided;
    print_line("Using ponder score %d\n", ponder_score);
    return result_draw;
}
