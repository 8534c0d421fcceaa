// strength selfplay and strength fit (make tune): the evaluation's weights fitted to game
// results.
//
// selfplay: the engine plays itself from the openings of the ballot (two random plies added)
// at about a fixed number of nodes a move (each move's budget drawn from 3/4 to 5/4 of it, so
// that games from one opening part ways); every quiet position of those games (neither side
// can capture, men still on the board) is written with the game's result, 32 bytes each.
//
// fit: logistic regression of the result on the evaluation's terms and patterns (evaluate.h):
// the cross-entropy of sigmoid(k * score) against the result (1, 1/2 or 0 for white), k fitted
// first with the weights in use, then every weight by gradient descent (Adam) on batches of
// positions, the patterns pulled towards zero (a configuration the games rarely show stays
// near it) and the terms towards their values in use. One game in twenty is held out: the
// weights of the pass that predicts those games best are written. Two terms stay as they
// are: the opening man, which fixes the scale, and the push to trade when ahead, set by hand
// (in self-play a small lead in a thin ending is often drawn, and the fit would take away the
// will to convert a lead). The same seed and weights give the same games, and with the same
// number of jobs (--jobs, each a share of every batch) the same weights.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "board/movegen.h"
#include "standin/book.h"
#include "standin/evaluate.h"
#include "standin/search.h"
#include "tools/dxp_match/match.h"
#include "tools/strength/strength.h"

namespace {

// One position of a self-play game as written by selfplay.
struct Record {
    uint64_t black, white, kings;
    uint32_t game;    // the game's number in its file
    int8_t result;    // white's points times two
    int8_t has_score; // 1 when the position was searched (not a forced move)
    int16_t score;    // the search's score for white, hundredths of a man
};
static_assert(sizeof(Record) == 32);

// ---- self-play -------------------------------------------------------------------------

GameRecord game;
LegalMoves legal;
int nodes_a_move = 4000;

// The search's score for white in the position after each ply of the game being played,
// and whether there was one.
int16_t scores[max_game_plies + 1];
int8_t searched[max_game_plies + 1];
Position game_before[max_game_plies + 1];

int selfplay_player(const GameRecord& record, const LegalMoves& moves, int) {
    const int nodes = nodes_a_move * 3 / 4 + int(next_random() % uint64_t(nodes_a_move / 2 + 1));
    if (record.ply_count < 2) search_clear();
    SearchLimits limits;
    limits.max_nodes = uint64_t(nodes);
    const int count = game_history(record, game_before);
    const SearchReport report =
        search_position(moves.before, moves.white_to_move, limits, game_before, count);
    if (record.ply_count > 0) {
        const int score = std::clamp(report.score, -30000, 30000);
        scores[record.ply_count - 1] = int16_t(moves.white_to_move ? score : -score);
        searched[record.ply_count - 1] = 1;
    }
    const int i = move_index(moves, report.best);
    return i < 0 ? 0 : i;
}

int write_positions(FILE* file, const GameRecord& record, int from_ply, uint32_t number,
                    int white_points) {
    int kept = 0;
    for (int k = from_ply; k < record.ply_count; ++k) {
        const Position& p = record.moves[k].after;
        if ((p.white | p.black) == p.kings || side_has_capture(p, 0) || side_has_capture(p, 1))
            continue;
        const Record r{p.black,     p.white,  p.kings, number, int8_t(white_points),
                       searched[k], scores[k]};
        fwrite(&r, sizeof r, 1, file);
        ++kept;
    }
    return kept;
}

} // namespace

int run_selfplay(int argc, char** argv) {
    const int games = atoi(option(argc, argv, "--games", "2000"));
    nodes_a_move = std::max(100, atoi(option(argc, argv, "--nodes", "4000")));
    const char* out = option(argc, argv, "--out", "selfplay.bin");
    seed_random(argc, argv);
    if (search_init(16) ||
        load_ballot(option(argc, argv, "--openings", "tools/strength/openings.txt"), ballot))
        return 1;
    load_data_beside(argv[0]);
    book_count = 0; // the openings are the ballot's: no book
    FILE* file = fopen(out, "wb");
    if (!file) {
        printf("strength: cannot write %s\n", out);
        return 1;
    }
    int white_points = 0, positions = 0;
    for (int g = 0; g < games; ++g) {
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
        std::fill(searched, searched + max_game_plies + 1, int8_t(0));
        const int points = play_game(game, selfplay_player, selfplay_player, 0);
        white_points += points;
        positions += write_positions(file, game, random_plies, uint32_t(g), points);
        if ((g + 1) % 1000 == 0) printf("%d games, %d positions\n", g + 1, positions);
    }
    const bool failed = fclose(file) != 0;
    printf("%s: %d games, %d positions; white scored %.1f%%\n", out, games, positions,
           50.0 * white_points / games);
    return failed ? 1 : 0;
}

namespace {

// ---- the fit ---------------------------------------------------------------------------

struct Sample {
    int16_t terms[term_count]; // white's count less black's
    uint16_t white[pattern_blocks], black[pattern_blocks];
    int8_t opening; // men on the board, at most 40
    int8_t result;  // white's points times two
    float target;   // what the fit aims at: the result, blended with the search's score
    int16_t score;  // the search's, for white
    bool has_score;
};

Sample* samples = nullptr;
int sample_count = 0, held_out = 0; // the held-out samples come first

constexpr int pattern_weight_count = pattern_blocks * pattern_configs;
// The weights being fitted: the terms', then the patterns', each an opening and an ending one.
constexpr int weight_count = 2 * term_count + 2 * pattern_weight_count;
double* weights = nullptr;

double& term_weight(int t, int phase) {
    return weights[2 * t + phase];
}
double* pattern_weight(int block, int config) {
    return weights + 2 * term_count + 2 * (block * pattern_configs + config);
}

double score_of(const Sample& s) {
    double opening = 0, ending = 0;
    for (int t = 0; t < term_count; ++t)
        if (s.terms[t]) {
            opening += s.terms[t] * term_weight(t, 0);
            ending += s.terms[t] * term_weight(t, 1);
        }
    for (int b = 0; b < pattern_blocks; ++b) {
        const double *w = pattern_weight(b, s.white[b]), *k = pattern_weight(b, s.black[b]);
        opening += w[0] - k[0];
        ending += w[1] - k[1];
    }
    return (opening * s.opening + ending * (40 - s.opening)) / 40;
}

double sigmoid(double x) {
    return 1 / (1 + std::exp(-x));
}

// Mean cross-entropy of samples [from, to) against their results, or their targets.
double loss_of(double k, int from, int to, bool against_targets = false) {
    double total = 0;
    for (int i = from; i < to; ++i) {
        const double p = std::clamp(sigmoid(k * score_of(samples[i])), 1e-9, 1 - 1e-9);
        const double y = against_targets ? samples[i].target : samples[i].result / 2.0;
        total -= y * std::log(p) + (1 - y) * std::log(1 - p);
    }
    return total / (to - from);
}

bool load_samples(char** files, int file_count) {
    long total = 0;
    for (int f = 0; f < file_count; ++f) {
        FILE* file = fopen(files[f], "rb");
        if (!file || fseek(file, 0, SEEK_END) != 0) {
            printf("strength: cannot read %s\n", files[f]);
            if (file) fclose(file);
            return true;
        }
        total += ftell(file) / long(sizeof(Record));
        fclose(file);
    }
    samples = new (std::nothrow) Sample[size_t(total)];
    if (!samples) {
        printf("strength: no memory for %ld positions\n", total);
        return true;
    }
    // Held-out games are one in twenty, counted in each file; they go to the front.
    int kept = 0, front = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (int f = 0; f < file_count; ++f) {
            FILE* file = fopen(files[f], "rb");
            Record r;
            while (file && fread(&r, sizeof r, 1, file) == 1) {
                if ((r.game % 20 == 0) != (pass == 0)) continue;
                const Position p{r.black, r.white, r.kings};
                Sample& s = samples[kept++];
                s = Sample{};
                eval_terms(p, [&](int term, int count) {
                    s.terms[term] = int16_t(s.terms[term] + count);
                });
                PatternIndices indices;
                pattern_indices(p, indices);
                std::copy(indices.white, indices.white + pattern_blocks, s.white);
                std::copy(indices.black, indices.black + pattern_blocks, s.black);
                const int men = std::popcount((p.white | p.black) & ~p.kings);
                s.opening = int8_t(men > 40 ? 40 : men);
                s.result = r.result;
                s.score = r.score;
                s.has_score = r.has_score != 0;
            }
            if (file) fclose(file);
            if (pass == 0) front = kept;
        }
    sample_count = kept;
    held_out = front;
    printf("%d positions, %d of them held out\n", sample_count, held_out);
    return sample_count - held_out < 1000 || held_out < 100;
}

bool frozen(int t, int phase) {
    return (t == term_man && phase == 0) || t == term_lead;
}

constexpr int max_jobs = 8;

void fit(double k, int passes, double rate_at_start, double pattern_pull, double term_pull,
         int jobs) {
    double* gradients[max_jobs];
    double losses[max_jobs];
    for (int job = 0; job < jobs; ++job) gradients[job] = new double[weight_count];
    double* gradient = gradients[0];
    double* m = new double[weight_count]();
    double* v = new double[weight_count]();
    double* best = new double[weight_count];
    std::copy(weights, weights + weight_count, best);
    double best_loss = loss_of(k, 0, held_out, true);
    printf("held-out loss %.6f (against results %.6f) with the weights in use\n", best_loss,
           loss_of(k, 0, held_out));
    constexpr int batch = 16384;
    constexpr double beta1 = 0.9, beta2 = 0.999;
    int* order = new int[size_t(sample_count - held_out)];
    for (int i = held_out; i < sample_count; ++i) order[i - held_out] = i;
    int step = 0;
    for (int pass = 0; pass < passes; ++pass) {
        // Shuffled the same way every run: the results stay reproducible.
        for (int i = sample_count - held_out - 1; i > 0; --i)
            std::swap(order[i], order[int(next_random() % uint64_t(i + 1))]);
        const double rate =
            rate_at_start * (0.05 + 0.95 * 0.5 * (1 + std::cos(M_PI * pass / passes)));
        double train_loss = 0;
        for (int start = 0; start < sample_count - held_out; start += batch) {
            const int end = std::min(sample_count - held_out, start + batch);
            // Each job takes a share of the batch into a gradient of its own; the shares are
            // fixed, so a run is the same for the same number of jobs.
            const auto share = [&](int job) {
                double* mine = gradients[job];
                std::fill(mine, mine + weight_count, 0.0);
                double loss = 0;
                const int from = start + (end - start) * job / jobs,
                          to = start + (end - start) * (job + 1) / jobs;
                for (int j = from; j < to; ++j) {
                    const Sample& s = samples[order[j]];
                    const double p = sigmoid(k * score_of(s));
                    loss -= s.target * std::log(std::clamp(p, 1e-9, 1.0)) +
                            (1 - s.target) * std::log(std::clamp(1 - p, 1e-9, 1.0));
                    const double g = k * (p - s.target) / 40;
                    const double go = g * s.opening, ge = g * (40 - s.opening);
                    for (int t = 0; t < term_count; ++t)
                        if (s.terms[t]) {
                            mine[2 * t] += go * s.terms[t];
                            mine[2 * t + 1] += ge * s.terms[t];
                        }
                    for (int b = 0; b < pattern_blocks; ++b) {
                        double* w = mine + (pattern_weight(b, s.white[b]) - weights);
                        double* o = mine + (pattern_weight(b, s.black[b]) - weights);
                        w[0] += go;
                        w[1] += ge;
                        o[0] -= go;
                        o[1] -= ge;
                    }
                }
                losses[job] = loss;
            };
            std::thread helpers[max_jobs];
            for (int job = 1; job < jobs; ++job) helpers[job] = std::thread(share, job);
            share(0);
            for (int job = 1; job < jobs; ++job) helpers[job].join();
            for (int job = 0; job < jobs; ++job) train_loss += losses[job];
            for (int job = 1; job < jobs; ++job)
                for (int i = 0; i < weight_count; ++i) gradient[i] += gradients[job][i];
            ++step;
            const double c1 = 1 - std::pow(beta1, step), c2 = 1 - std::pow(beta2, step);
            const double n = end - start;
            for (int i = 0; i < weight_count; ++i) {
                const bool is_term = i < 2 * term_count;
                if (is_term && frozen(i / 2, i % 2)) continue;
                const double pull = is_term ? term_pull * (weights[i] - eval_weights[i / 2][i % 2])
                                            : pattern_pull * weights[i];
                const double g = gradient[i] / n + pull;
                if (g == 0 && m[i] == 0) continue;
                m[i] = beta1 * m[i] + (1 - beta1) * g;
                v[i] = beta2 * v[i] + (1 - beta2) * g * g;
                weights[i] -= rate * (m[i] / c1) / (std::sqrt(v[i] / c2) + 1e-10);
            }
        }
        const double loss = loss_of(k, 0, held_out, true);
        printf("pass %d: training loss %.6f, held-out loss %.6f (against results %.6f)%s\n",
               pass + 1, train_loss / (sample_count - held_out), loss, loss_of(k, 0, held_out),
               loss < best_loss ? " (best)" : "");
        if (loss < best_loss) {
            best_loss = loss;
            std::copy(weights, weights + weight_count, best);
        }
    }
    std::copy(best, best + weight_count, weights);
    delete[] order;
    delete[] best;
    delete[] v;
    delete[] m;
    for (int job = 0; job < jobs; ++job) delete[] gradients[job];
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

int16_t rounded(double w) {
    return int16_t(std::clamp(std::lround(w), -32000l, 32000l));
}

bool write_weights(const char* terms_out, const char* patterns_out) {
    FILE* file = fopen(terms_out, "w");
    if (!file) {
        printf("strength: cannot write %s\n", terms_out);
        return true;
    }
    fprintf(file, "// Opening and ending weight of each evaluation term (evaluate.h), written by "
                  "make tune.\n");
    char buffer[64];
    for (int t = 0; t < term_count; ++t)
        fprintf(file, "{%d, %d}, // %s\n", rounded(term_weight(t, 0)), rounded(term_weight(t, 1)),
                term_name(t, buffer, sizeof buffer));
    bool failed = fclose(file) != 0;
    file = fopen(patterns_out, "w");
    if (!file) {
        printf("strength: cannot write %s\n", patterns_out);
        return true;
    }
    fprintf(file, "// The weights of the patterns (evaluate.h), written by make tune: for each "
                  "block, the opening\n// and ending weight of each configuration in turn.\n");
    for (int b = 0; b < pattern_blocks; ++b)
        for (int c = 0; c < pattern_configs; ++c) {
            const double* w = pattern_weight(b, c);
            fprintf(file, "%d,%d,%s", rounded(w[0]), rounded(w[1]), c % 12 == 11 ? "\n" : "");
        }
    fprintf(file, "\n");
    failed |= fclose(file) != 0;
    printf("weights written to %s and %s\n", terms_out, patterns_out);
    return failed;
}

} // namespace

int run_fit(int argc, char** argv) {
    // The data files are the arguments that are neither options nor their values.
    static char* files[256];
    int file_count = 0;
    for (int i = 2; i < argc && file_count < 256; ++i) {
        if (strncmp(argv[i], "--", 2) == 0) {
            ++i;
            continue;
        }
        files[file_count++] = argv[i];
    }
    const int passes = atoi(option(argc, argv, "--passes", "10"));
    const double rate = atof(option(argc, argv, "--rate", "0.3"));
    // The weight of the search's score against the game's result in the target.
    const double blend = atof(option(argc, argv, "--blend", "0.5"));
    const double pattern_pull = atof(option(argc, argv, "--pattern-pull", "1e-8"));
    const double term_pull = atof(option(argc, argv, "--term-pull", "1e-6"));
    const int jobs = std::clamp(atoi(option(argc, argv, "--jobs", "2")), 1, max_jobs);
    seed_random(argc, argv);
    fill_bit_count_table();
    build_ray_table();
    if (file_count == 0 || load_samples(files, file_count)) {
        printf("strength: fit needs self-play positions (strength selfplay)\n");
        return 1;
    }
    weights = new double[weight_count];
    for (int t = 0; t < term_count; ++t)
        for (int phase = 0; phase < 2; ++phase) term_weight(t, phase) = eval_weights[t][phase];
    for (int b = 0; b < pattern_blocks; ++b)
        for (int c = 0; c < pattern_configs; ++c) {
            pattern_weight(b, c)[0] = pattern_weights[b][c].opening;
            pattern_weight(b, c)[1] = pattern_weights[b][c].ending;
        }
    // k by golden-section search on the training positions with the weights in use.
    // A million positions tell k well enough.
    const int k_end = std::min(sample_count, held_out + 1000000);
    double low = 0.0005, high = 0.05;
    for (int i = 0; i < 40; ++i) {
        const double a = high - (high - low) * 0.618, b = low + (high - low) * 0.618;
        if (loss_of(a, held_out, k_end) < loss_of(b, held_out, k_end))
            high = b;
        else
            low = a;
    }
    const double k = (low + high) / 2;
    printf("k %.5f: loss %.6f with the weights in use\n", k, loss_of(k, held_out, k_end));
    for (int i = 0; i < sample_count; ++i) {
        Sample& s = samples[i];
        s.target = float(s.result / 2.0);
        if (s.has_score) s.target = float((1 - blend) * s.target + blend * sigmoid(k * s.score));
    }
    fit(k, passes, rate, pattern_pull, term_pull, jobs);
    return write_weights(option(argc, argv, "--weights-out", "standin/weights.inc"),
                         option(argc, argv, "--patterns-out", "standin/patterns.inc"))
               ? 1
               : 0;
}
