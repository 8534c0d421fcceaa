// The evaluation, in hundredths of a man: the weighted terms of evaluate.h, blended from the
// opening weights to the ending weights as the men come off, and the endings that hold no
// win damped towards a draw.
#include "standin/evaluate.h"

#include "standin/kings.h"
#include "standin/search.h"

namespace {

// Each term's weight blended for every number of men on the board, worked out once.
struct BlendedWeights {
    int weight[41][term_count];
};
constexpr BlendedWeights make_blended() {
    BlendedWeights b{};
    for (int opening = 0; opening <= 40; ++opening)
        for (int t = 0; t < term_count; ++t)
            b.weight[opening][t] =
                eval_weights[t][0] * opening + eval_weights[t][1] * (40 - opening);
    return b;
}
constexpr BlendedWeights blended = make_blended();

} // namespace

const PatternWeight pattern_weights[pattern_blocks][pattern_configs] = {
#include "standin/patterns.inc"
};

// What a configuration of a region is worth to white: its weight as white sees the region less
// the turned region's as black sees the same squares (read backwards, colours swapped). One
// look-up a region.
static PatternWeight pattern_balance[pattern_blocks][pattern_configs];

namespace {

// Adds what regions [from, to), all gathered alike, are worth to white.
template <uint32_t (*gather)(uint64_t, int)>
void add_regions(int from, int to, uint64_t white_men, uint64_t black_men, int& opening,
                 int& ending) {
    for (int b = from; b < to; ++b) {
        const int first = block_first_bit(b);
        const PatternWeight& balance =
            pattern_balance[b][ternary.forward[gather(white_men, first)] +
                               2 * ternary.forward[gather(black_men, first)]];
        opening += balance.opening;
        ending += balance.ending;
    }
}

} // namespace

void fill_pattern_table() {
    for (uint32_t w = 0; w < 256; ++w)
        for (uint32_t k = 0; k < 256; ++k) {
            if (w & k) continue; // a square holds one man at most
            const int own_config = ternary.forward[w] + 2 * ternary.forward[k],
                      other_config = ternary.backward[k] + 2 * ternary.backward[w];
            for (int b = 0; b < pattern_blocks; ++b) {
                const PatternWeight &own = pattern_weights[b][own_config],
                                    &other = pattern_weights[turned_block(b)][other_config];
                pattern_balance[b][own_config] = {int16_t(own.opening - other.opening),
                                                  int16_t(own.ending - other.ending)};
            }
        }
}

int evaluate(const Position& p, int white_to_move) {
    const int men = std::popcount(p.white & ~p.kings) + std::popcount(p.black & ~p.kings);
    const int opening = men > 40 ? 40 : men;
    const int* weight = blended.weight[opening];
    int sum = 0;
    eval_terms(p, [&](int term, int count) { sum += count * weight[term]; });
    const uint64_t white_men = p.white & ~p.kings, black_men = p.black & ~p.kings;
    int pattern_opening = 0, pattern_ending = 0;
    add_regions<block_byte>(0, square_blocks, white_men, black_men, pattern_opening,
                            pattern_ending);
    add_regions<file_byte>(square_blocks, even_files, white_men, black_men, pattern_opening,
                           pattern_ending);
    add_regions<odd_file_byte>(even_files, pattern_blocks, white_men, black_men, pattern_opening,
                               pattern_ending);
    sum += pattern_opening * opening + pattern_ending * (40 - opening);
    int score = sum / 40;
    const int white = std::popcount(p.white), black = std::popcount(p.black);
    const bool white_king = (p.white & p.kings) != 0, black_king = (p.black & p.kings) != 0;
    // A lone king against four pieces or more, a king among them: as good as won when the table
    // of four kings against one takes over (or a search into it), the more so with every man
    // near its crowning or crowned; the usual terms only break ties. Below anything the table
    // scores. Without the table the usual score stands: the search then finds its wins by
    // sacrifices the flat score would hide.
    if (kings_table && ((white == 1 && white_king && black >= 4 && black_king) ||
                        (black == 1 && black_king && white >= 4 && white_king))) {
        const uint64_t strong = white == 1 ? p.black : p.white;
        const int usual = (white == 1 ? -score : score) / 4;
        int lead = 1000 + 150 * std::popcount(strong & p.kings) +
                   (usual < -50  ? -50
                    : usual > 50 ? 50
                                 : usual);
        // A man is worth more the nearer it is to its crowning, always less than a king: the
        // search pushes it on rather than waiting with it.
        for (uint64_t m = strong & ~p.kings; m; m &= m - 1) {
            const int row = man_rows.row[std::countr_zero(m)];
            lead += 50 + 10 * (white == 1 ? row : 9 - row);
        }
        if (lead > 1900) lead = 1900;
        return (white == 1) == bool(white_to_move) ? -lead : lead;
    }
    // Endings the rules soon call drawn are worth little whatever the material says: a lone
    // king against at most three pieces (16 or 5 moves a side, then a draw), and at most three
    // kings a side. With a king each and three pieces or fewer a side the extra piece rarely
    // wins either.
    if ((white == 1 && white_king && black <= 3) || (black == 1 && black_king && white <= 3) ||
        (men == 0 && white <= 3 && black <= 3))
        score /= 16;
    else if (white_king && black_king && white <= 3 && black <= 3)
        score /= 4;
    return white_to_move ? score : -score;
}
