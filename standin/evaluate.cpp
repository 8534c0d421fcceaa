// The evaluation, in hundredths of a man: the weighted terms of evaluate.h, blended from the
// opening weights to the ending weights as the men come off, and the king endings that hold
// no win (at most three kings against one or more) damped towards a draw.
#include "standin/evaluate.h"

#include "standin/search.h"

int evaluate(const Position& p, int white_to_move) {
    const int men = std::popcount(p.white & ~p.kings) + std::popcount(p.black & ~p.kings);
    const int opening = men > 40 ? 40 : men;
    int sum = 0;
    eval_terms(p, [&](int term, int count) {
        sum += count * (eval_weights[term][0] * opening + eval_weights[term][1] * (40 - opening));
    });
    int score = sum / 40;
    if (men == 0) {
        const int wk = std::popcount(p.white), bk = std::popcount(p.black);
        if (wk >= 1 && bk >= 1 && wk <= 3 && bk <= 3) score /= 16;
    }
    return white_to_move ? score : -score;
}
