// The evaluation: each term, and so the score, is the same for a position and its mirror with
// the colours swapped; and the score is the weighted sum of the terms and patterns with the
// tuned weights.
#include <gtest/gtest.h>

#include "board/fen.h"
#include "standin/evaluate.h"
#include "standin/search.h"

namespace {

// Middle games, runaway men, kings with men: no row is symmetric in itself.
const char* const rows[] = {
    "W:W27,28,31,32,33,34,36,37,38,40,42,43,44,45,47,48:B6,7,8,9,11,12,13,14,16,17,19,22,23,24.",
    "B:W17,26,31,32,35,36,41,46:B3,9,14,29,34,39,40,45.", "W:WK3,K44,21,30,36:B13,14,17,25,35.",
    "B:W6,15,37,41,42,43:BK10,K50,9,18,27."};

TEST(Eval, MirrorScoresTheSameAndTheScoreUsesTheTunedWeights) {
    fill_bit_count_table();
    build_ray_table();
    fill_pattern_table();
    for (const char* fen : rows) {
        Position p{}, m{};
        int white = 1;
        char error[128];
        ASSERT_FALSE(parse_fen(fen, p, white, error, sizeof error)) << error;
        for (int s = 1; s <= 50; ++s) // square s becomes 51 - s, white becomes black
            for (auto [from, to] :
                 {std::pair{p.white, &m.black}, {p.black, &m.white}, {p.kings, &m.kings}})
                if (from & square_mask[s - 1]) *to |= square_mask[50 - s];
        int terms[term_count] = {}, mirrored[term_count] = {};
        eval_terms(p, [&](int t, int n) { terms[t] += n; });
        eval_terms(m, [&](int t, int n) { mirrored[t] += n; });
        const int men = std::popcount((p.white | p.black) & ~p.kings), opening = std::min(men, 40);
        int sum = 0;
        for (int t = 0; t < term_count; ++t) {
            EXPECT_EQ(terms[t], -mirrored[t]) << fen << ", term " << t;
            sum += terms[t] * (eval_weights[t][0] * opening + eval_weights[t][1] * (40 - opening));
        }
        // Each block as white sees it is the turned block as black sees it in the mirror.
        PatternIndices indices, mirror_indices;
        pattern_indices(p, indices);
        pattern_indices(m, mirror_indices);
        for (int b = 0; b < pattern_blocks; ++b) {
            EXPECT_EQ(indices.white[b], mirror_indices.black[b]) << fen << ", block " << b;
            EXPECT_EQ(indices.black[b], mirror_indices.white[b]) << fen << ", block " << b;
            for (const auto& [index, sign] :
                 {std::pair{indices.white[b], 1}, {indices.black[b], -1}})
                sum += sign * (pattern_weights[b][index].opening * opening +
                               pattern_weights[b][index].ending * (40 - opening));
        }
        EXPECT_EQ(evaluate(p, white), evaluate(m, !white)) << fen;
        EXPECT_EQ(evaluate(p, 1), sum / 40) << fen;
    }
}

// A file is the dark square of two neighbouring columns in each of eight rows, read from the
// row nearest squares 1-5: a lone man on its i-th square reads as configuration 3^i.
TEST(Eval, FilesReadTheirSquaresRowByRow) {
    for (int b = square_blocks; b < pattern_blocks; ++b) {
        const bool between = b >= even_files; // columns 1-2, 3-4, ...
        const int file = (b - (between ? even_files : square_blocks)) / 2,
                  first_row = b % 2 == 0 ? 2 : 0;
        for (int i = 0, power = 1; i < 8; ++i, power *= 3) {
            const int row = first_row + i, square = 5 * row + file + (between && row % 2) + 1;
            PatternIndices indices;
            pattern_indices(Position{0, square_mask[square - 1], 0}, indices);
            EXPECT_EQ(indices.white[b], power) << "region " << b << ", square " << square;
        }
    }
}

} // namespace
