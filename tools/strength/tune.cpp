// strength tune: the evaluation's weights fitted to game results. The engine plays itself from
// the openings of the ballot (two random plies added) at a fixed number of nodes a move; every
// quiet position of those games (neither side can capture, men still on the board) is kept
// with the game's result, and the weights are fitted by logistic regression of the result on
// the terms (Texel's method): the error of sigmoid(k * score) against the result, k fitted
// first with the weights in use, then the weights by gradient descent (Adam), each pulled a
// little towards its value in use so that a term the games say little about keeps it. Two
// stay as they are: the opening man, which fixes the scale, and the push to trade when ahead,
// set by hand (in self-play a small lead in a thin ending is often drawn, and the fit would
// take away the will to convert a lead). The same seed and weights give the same games and
// the same new weights; each run is one round.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"
#include "standin/evaluate.h"
#include "standin/search.h"
#include "tools/dxp_match/match.h"
#include "tools/strength/strength.h"

namespace {

constexpr int max_samples = 1000000;

struct Sample {
    int16_t terms[term_count]; // white's count less black's
    int8_t opening;            // men on the board, at most 40
    int8_t result;             // 2 white won, 1 drawn, 0 lost
};
Sample samples[max_samples];
int sample_count = 0;

GameRecord game;
LegalMoves legal;

void keep_positions(const GameRecord& record, int from_ply, int white_points) {
    for (int k = from_ply; k < record.ply_count && sample_count < max_samples; ++k) {
        const Position& p = record.moves[k].after;
        const int men = std::popcount(p.white & ~p.kings) + std::popcount(p.black & ~p.kings);
        if (men == 0 || side_has_capture(p, 0) || side_has_capture(p, 1)) continue;
        Sample& s = samples[sample_count++];
        s = Sample{};
        eval_terms(p, [&](int term, int count) { s.terms[term] = int16_t(s.terms[term] + count); });
        s.opening = int8_t(men > 40 ? 40 : men);
        s.result = int8_t(white_points);
    }
}

double weights[term_count][2];

double score_of(const Sample& s) {
    double sum = 0;
    for (int t = 0; t < term_count; ++t)
        if (s.terms[t])
            sum += s.terms[t] * (weights[t][0] * s.opening + weights[t][1] * (40 - s.opening));
    return sum / 40;
}

double sigmoid(double x) {
    return 1 / (1 + std::exp(-x));
}

double error_of(double k) {
    double total = 0;
    for (int i = 0; i < sample_count; ++i) {
        const double d = sigmoid(k * score_of(samples[i])) - samples[i].result / 2.0;
        total += d * d;
    }
    return total / sample_count;
}

void fit(double k, int steps) {
    static double gradient[term_count][2], m[term_count][2], v[term_count][2];
    const double rate = 1.0, beta1 = 0.9, beta2 = 0.999, pull = 2e-8;
    for (int step = 1; step <= steps; ++step) {
        memset(gradient, 0, sizeof gradient);
        double total = 0;
        for (int i = 0; i < sample_count; ++i) {
            const Sample& s = samples[i];
            const double p = sigmoid(k * score_of(s)), d = p - s.result / 2.0;
            total += d * d;
            const double g = 2 * d * p * (1 - p) * k / 40;
            for (int t = 0; t < term_count; ++t)
                if (s.terms[t]) {
                    gradient[t][0] += g * s.terms[t] * s.opening;
                    gradient[t][1] += g * s.terms[t] * (40 - s.opening);
                }
        }
        for (int t = 0; t < term_count; ++t)
            for (int phase = 0; phase < 2; ++phase) {
                if ((t == term_man && phase == 0) || t == term_lead) continue;
                // Pulled towards the weights in use: a term the games say little about stays.
                const double decay = pull * (weights[t][phase] - eval_weights[t][phase]);
                const double g = gradient[t][phase] / sample_count + decay;
                m[t][phase] = beta1 * m[t][phase] + (1 - beta1) * g;
                v[t][phase] = beta2 * v[t][phase] + (1 - beta2) * g * g;
                const double mh = m[t][phase] / (1 - std::pow(beta1, step));
                const double vh = v[t][phase] / (1 - std::pow(beta2, step));
                weights[t][phase] -= rate * mh / (std::sqrt(vh) + 1e-12);
            }
        if (step % 100 == 0) printf("step %d: error %.6f\n", step, total / sample_count);
    }
}

const char* term_name(int t, char* buffer, size_t size) {
    static const char* const names[] = {"balance", "support", "blocked", "man moves", "outpost"};
    static const char* const last[] = {"king on the long diagonal",
                                       "king moves",
                                       "rows gone by a man against kings",
                                       "material lead",
                                       "a king at all",
                                       "lead when both sides have kings"};
    if (t == term_man) return "man";
    if (t == term_king) return "king";
    if (t >= term_king_diagonal) return last[t - term_king_diagonal];
    if (t >= term_runaway) {
        snprintf(buffer, size, "runaway, %d rows to go", t - term_runaway + 1);
        return buffer;
    }
    if (t >= term_balance) return names[t - term_balance];
    snprintf(buffer, size, "square %d", t - term_square + 6);
    return buffer;
}

const char* option(int argc, char** argv, const char* name, const char* otherwise) {
    for (int i = 2; i + 1 < argc; ++i)
        if (strcmp(argv[i], name) == 0) return argv[i + 1];
    return otherwise;
}

void self_play(int games, int nodes) {
    int white_points = 0;
    for (int g = 0; g < games && sample_count < max_samples; ++g) {
        // An opening of the ballot, two random plies, then the engine on both sides.
        const Opening& opening = ballot.openings[int(next_random() % uint64_t(ballot.count))];
        start_game(game, opening.position, opening.white_to_move, true);
        const int random_plies = 2;
        bool over = false;
        for (int k = 0; k < random_plies && !over; ++k) {
            list_legal_moves(game_position(game), game_white_to_move(game), legal);
            over = legal.count == 0;
            if (over) break;
            GameMove move;
            describe_move(legal, int(next_random() % uint64_t(legal.count)), move);
            add_move(game, move);
        }
        if (over) continue;
        const int points = play_game(game, current_player_nodes, current_player_nodes, nodes);
        white_points += points;
        keep_positions(game, random_plies, points);
        if ((g + 1) % 200 == 0) printf("%d games, %d positions\n", g + 1, sample_count);
    }
    printf("%d positions; white scored %.1f%%\n", sample_count, 50.0 * white_points / games);
}

} // namespace

int run_tune(int argc, char** argv) {
    const int games = atoi(option(argc, argv, "--games", "2000"));
    // Nodes a move in the self-play games: 4000 is about five plies, a few milliseconds.
    const int nodes = atoi(option(argc, argv, "--nodes", "4000"));
    const char* out = option(argc, argv, "--out", "standin/weights.inc");
    random_state = strtoull(option(argc, argv, "--seed", "1"), nullptr, 10) | 1;
    if (search_init(16) ||
        load_ballot(option(argc, argv, "--openings", "tools/strength/openings.txt"), ballot))
        return 1;
    self_play(games, nodes < 100 ? 100 : nodes);
    for (int t = 0; t < term_count; ++t)
        for (int phase = 0; phase < 2; ++phase) weights[t][phase] = eval_weights[t][phase];
    // k by golden-section search on the error with the weights in use.
    double low = 0.0005, high = 0.05;
    for (int i = 0; i < 40; ++i) {
        const double a = high - (high - low) * 0.618, b = low + (high - low) * 0.618;
        (error_of(a) < error_of(b) ? high : low) = error_of(a) < error_of(b) ? b : a;
    }
    const double k = (low + high) / 2;
    printf("k %.5f: error %.6f with the weights in use\n", k, error_of(k));
    fit(k, 1000);
    FILE* file = fopen(out, "w");
    if (!file) {
        printf("strength: cannot write %s\n", out);
        return 1;
    }
    fprintf(file, "// Opening and ending weight of each evaluation term (evaluate.h), written by "
                  "make tune.\n");
    char buffer[64];
    for (int t = 0; t < term_count; ++t)
        fprintf(file, "{%d, %d}, // %s\n", int(std::lround(weights[t][0])),
                int(std::lround(weights[t][1])), term_name(t, buffer, sizeof buffer));
    fclose(file);
    printf("weights written to %s\n", out);
    return 0;
}
