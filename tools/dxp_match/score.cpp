// The match score, its Elo difference with a 95% interval, and the closing table.
#include <cmath>
#include <cstdio>

#include "tools/dxp_match/match.h"

MatchScore match_score;
MatchTimes match_times;

namespace {

constexpr double z95 = 1.959963984540054; // two-sided 95% of the normal distribution

// Elo difference of an expected score p under the logistic model.
double elo_of_score(double p) {
    if (p <= 0.0) return -INFINITY;
    if (p >= 1.0) return INFINITY;
    const double elo = -400.0 * std::log10(1.0 / p - 1.0);
    return elo == 0.0 ? 0.0 : elo; // never "-0.0"
}

} // namespace

EloEstimate elo_estimate(int wins, int draws, int losses) {
    const int n = wins + draws + losses;
    if (n == 0) return {NAN, NAN, NAN};
    const double p = (wins + 0.5 * draws) / n;
    if (losses == n) {
        // No point scored: the score that makes n losses 5% likely bounds it from above.
        return {-INFINITY, -INFINITY, elo_of_score(1.0 - std::pow(0.05, 1.0 / n))};
    }
    if (wins == n) return {INFINITY, elo_of_score(std::pow(0.05, 1.0 / n)), INFINITY};
    // Standard error of the mean score per game, from the games' own spread.
    const double variance =
        (wins * (1.0 - p) * (1.0 - p) + draws * (0.5 - p) * (0.5 - p) + losses * p * p) / n;
    const double margin = z95 * std::sqrt(variance / n);
    return {elo_of_score(p), elo_of_score(p - margin), elo_of_score(p + margin)};
}

void format_elo(const EloEstimate& e, char* out, size_t size) {
    if (std::isnan(e.difference)) {
        snprintf(out, size, "none (no game scored)");
    } else if (std::isinf(e.difference)) {
        if (e.difference > 0)
            snprintf(out, size, "+inf (95%%: at least %+.1f)", e.low);
        else
            snprintf(out, size, "-inf (95%%: at most %+.1f)", e.high);
    } else if (std::isinf(e.low) || std::isinf(e.high)) {
        char low[16], high[16];
        if (std::isinf(e.low))
            snprintf(low, sizeof low, "-inf");
        else
            snprintf(low, sizeof low, "%+.1f", e.low);
        if (std::isinf(e.high))
            snprintf(high, sizeof high, "+inf");
        else
            snprintf(high, sizeof high, "%+.1f", e.high);
        snprintf(out, size, "%+.1f (95%%: %s to %s)", e.difference, low, high);
    } else {
        snprintf(out, size, "%+.1f +/- %.1f (95%%)", e.difference, (e.high - e.low) / 2.0);
    }
}

void print_match_table(const MatchScore& score) {
    const int games = score.wins + score.draws + score.losses;
    const double percent = games ? 100.0 * (score.wins + 0.5 * score.draws) / games : 0.0;
    printf("\n");
    printf("  Games   Wins  Draws  Losses   Score\n");
    printf("  %5d  %5d  %5d  %6d  %5.1f%%\n", games, score.wins, score.draws, score.losses,
           percent);
    char elo[96];
    format_elo(elo_estimate(score.wins, score.draws, score.losses), elo, sizeof elo);
    printf("Elo difference: %s\n", elo);
    if (score.unfinished) printf("Unfinished games (not scored): %d\n", score.unfinished);
    if (score.refused) printf("Games refused by the follower: %d\n", score.refused);
}
