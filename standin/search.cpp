// Iterative deepening principal-variation search over the project's move generator.
//
// A move is the position it produces, so moves are named by their index in the generator's
// fixed order: the transposition table keeps that index as the best move. Captures are
// compulsory, so a position where the side to move can capture is never judged statically:
// the search goes on through the captures (quiescence) until a quiet position is reached.
#include "standin/search.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <new>

#include "board/movegen.h"
#include "standin/endgame.h"
#include "standin/evaluate.h"
#include "standin/kings.h"

namespace {

enum Bound : uint8_t { bound_none = 0, bound_exact = 1, bound_lower = 2, bound_upper = 3 };

struct TableEntry {
    uint64_t key;
    int16_t score;
    uint8_t depth;
    uint8_t bound;
    uint16_t move; // index in generation order, 0xFFFF for none
    uint16_t age;
};
static_assert(sizeof(TableEntry) == 16);

constexpr uint16_t no_move = 0xFFFF;
constexpr int infinite_score = 32000;
constexpr int poll_interval = 2048;
constexpr int kings_only_draw_plies = 50;
constexpr int aspiration = 30;      // half the root window, hundredths of a man
constexpr int futility_depth = 5;   // static cuts at this depth and below,
constexpr int futility_margin = 70; // with this margin a ply, hundredths of a man

TableEntry* table = nullptr;
uint64_t table_mask = 0;
uint16_t table_age = 0;

// Working storage, one set per ply, allocated with the program.
MoveList move_lists[search_max_ply + 1];
int move_order[search_max_ply + 1][max_moves];
Position pv_table[search_max_ply + 1][search_max_line];
int pv_length[search_max_ply + 1];
uint16_t killers[search_max_ply + 1][2];
int history_score[2][64][64];

// Hashes of the game before the root and of the path searched, and where the run of
// reversible moves leading to each began (a repetition can only be found inside it).
constexpr int max_history = 512;
uint64_t hash_stack[max_history + search_max_ply + 2];
int reversible_from[max_history + search_max_ply + 2];
// Where the stage of a lone king that each position is in began (the rules count from there).
int stage_from[max_history + search_max_ply + 2];
int root_index = 0;

const SearchLimits* limits = nullptr;
uint64_t nodes = 0;
uint64_t next_poll = 0;
bool aborted = false;

constexpr uint64_t mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

constexpr uint64_t side_key = 0x510e527fade682d1ull;

uint64_t hash_of(const Position& p, int white_to_move) {
    uint64_t h = mix(p.black ^ 0x9e3779b97f4a7c15ull) ^ mix(p.white ^ 0x3c6ef372fe94f82bull) ^
                 mix(p.kings ^ 0xa54ff53a5f1d36f1ull);
    return white_to_move ? h ^ side_key : h;
}

// Scores already worked out, white's view, keyed by the position alone: the same position
// reaches the horizon again and again by other orders of the same moves.
constexpr int eval_cache_size = 1 << 16;
uint64_t eval_cache[eval_cache_size]; // key's upper 48 bits, then the score's 16

// The table is read in pairs of entries: the position's own entry if either holds it, else
// the one to give up for it, an earlier search's before this one's, then the shallower.
TableEntry* table_slot(uint64_t key) {
    TableEntry* pair = &table[key & table_mask & ~1ull];
    if (pair[0].key == key) return &pair[0];
    if (pair[1].key == key) return &pair[1];
    const bool old0 = pair[0].age != table_age, old1 = pair[1].age != table_age;
    if (old0 != old1) return old0 ? &pair[0] : &pair[1];
    return pair[0].depth <= pair[1].depth ? &pair[0] : &pair[1];
}

int cached_evaluate(const Position& p, int white_to_move, uint64_t key) {
    if (white_to_move) key ^= side_key;
    uint64_t& slot = eval_cache[key & (eval_cache_size - 1)];
    int white_score;
    if ((slot ^ key) >> 16 == 0) {
        white_score = int16_t(uint16_t(slot));
    } else {
        const int score = evaluate(p, white_to_move);
        white_score = white_to_move ? score : -score;
        slot = (key & ~0xFFFFull) | uint16_t(int16_t(white_score));
    }
    return white_to_move ? white_score : -white_score;
}

// The score of a position the bitbases hold: a known win or loss beyond any evaluation, and
// among wins the better by the evaluation (so that the won side makes progress). Against a
// lone king the rules draw after a few moves (16 or 5 a side), so a win there may not
// stand: a little more than a draw (the evaluation damps these endings already).
int endgame_score(const Position& p, int white_to_move, int ply, uint64_t key) {
    const EndgameValue value = probe_endgame(p, white_to_move);
    if (value == endgame_draw) return 0;
    const int eval = cached_evaluate(p, white_to_move, key);
    const int own = std::popcount(white_to_move ? p.white : p.black),
              other = std::popcount(white_to_move ? p.black : p.white);
    const bool lone_king = (own == 1 && (p.kings & (white_to_move ? p.white : p.black))) ||
                           (other == 1 && (p.kings & (white_to_move ? p.black : p.white)));
    const int sign = value == endgame_win ? 1 : -1;
    if (lone_king) return sign * 100 + eval;
    return sign * (score_known_win - ply) + (eval < -2000 ? -2000 : eval > 2000 ? 2000 : eval);
}

uint64_t mover_of(const Position& p, int white_to_move) {
    return white_to_move ? p.white : p.black;
}

// The squares a move leaves and reaches, as bit numbers packed in 16 bits: ordering only.
uint16_t move_key(const Position& before, const Position& after, int white_to_move) {
    uint64_t b = mover_of(before, white_to_move), a = mover_of(after, white_to_move);
    uint64_t from = b & ~a, to = a & ~b;
    int f = from ? std::countr_zero(from) : 63, t = to ? std::countr_zero(to) : 63;
    return uint16_t(f << 8 | t);
}

bool stop_now() {
    if (aborted) return true;
    if (nodes < next_poll) return false;
    next_poll = nodes + poll_interval;
    if (limits->max_nodes && nodes >= limits->max_nodes) aborted = true;
    if (limits->should_stop && limits->should_stop(limits->context, false)) aborted = true;
    return aborted;
}

bool is_repetition(int index) {
    for (int i = index - 2; i >= reversible_from[index]; i -= 2)
        if (hash_stack[i] == hash_stack[index]) return true;
    return false;
}

int score_to_table(int score, int ply) {
    if (score >= score_won_threshold) return score + ply;
    if (score <= -score_won_threshold) return score - ply;
    return score;
}

int score_from_table(int score, int ply) {
    if (score >= score_won_threshold) return score - ply;
    if (score <= -score_won_threshold) return score + ply;
    return score;
}

// Move i of the list first at each step: the best remaining by order score.
int pick_next(int ply, int* scores, int start, int count) {
    int best = start;
    for (int i = start + 1; i < count; ++i)
        if (scores[i] > scores[best]) best = i;
    std::swap(scores[start], scores[best]);
    std::swap(move_order[ply][start], move_order[ply][best]);
    return move_order[ply][start];
}

int order_scores[search_max_ply + 1][max_moves];
// Plies a late quiet move is first searched less deeply, by depth and place in the order:
// growing with both, as the logarithm of each.
int reductions[64][64];

int search(const Position& p, int white_to_move, int depth, int alpha, int beta, int ply,
           bool pv_node) {
    pv_length[ply] = 0;
    ++nodes;
    if (stop_now()) return 0;
    const int index = root_index + ply;
    if (ply > 0 && is_repetition(index)) return 0;
    // 25 moves a side with kings only and no capture: a draw, if the side to move can move.
    if (ply > 0 && index - reversible_from[index] >= kings_only_draw_plies)
        return legal_moves(p, white_to_move, move_lists[ply]) > 0 ? 0 : -score_win + ply;
    // Against a lone king the rules' 16 or 5 moves a side have run out.
    const int stage_plies = std::popcount(p.white | p.black) <= 4 ? lone_king_plies(p) : 0;
    if (ply > 0 && stage_plies && index - stage_from[index] >= stage_plies)
        return legal_moves(p, white_to_move, move_lists[ply]) > 0 ? 0 : -score_win + ply;
    if (ply >= search_max_ply) return cached_evaluate(p, white_to_move, hash_stack[index]);
    // Kings against a lone king: the table's plies to the win, so that the search always
    // shortens it; a draw when the rules' count runs out before: 25 king moves from the
    // capture or crowning that began the run of king moves, and against three kings or fewer
    // 16 or 5 moves a side from the start of the stage. Four kings not won: as any position;
    // fewer: a draw.
    if (kings_table && ply > 0) {
        const int kings = kings_against_one(p);
        if (kings) {
            const int distance = probe_kings(p, white_to_move);
            const int left = kings == 4 ? kings_only_draw_plies - (index - reversible_from[index])
                                        : stage_plies - (index - stage_from[index]);
            if (distance == kings_not_won) {
                if (kings < 4) return 0;
            } else {
                if (distance > left) return 0;
                const int won = score_known_win - ply - distance;
                return std::popcount(white_to_move ? p.white : p.black) == kings ? won : -won;
            }
        }
    }
    // Few pieces left: the bitbases know the outcome.
    if (ply > 0 && std::popcount(p.white | p.black) <= endgame_pieces && p.white && p.black)
        return endgame_score(p, white_to_move, ply, hash_stack[index]);

    MoveList& list = move_lists[ply];
    int count = generate_captures(p, white_to_move, list, nullptr);
    const bool captures = count > 0;
    if (!captures) {
        // A quiet position at the horizon is judged as it stands, unless the other side
        // threatens to take: then every reply is looked at once more.
        if (depth < 0 || (depth == 0 && !side_has_capture(p, !white_to_move)))
            return cached_evaluate(p, white_to_move, hash_stack[index]);
        count = generate_quiet_moves(p, white_to_move, list);
        if (count == 0) return -score_win + ply; // nothing to move: lost
    }
    if (depth < 0) depth = 0;
    // Near the horizon a quiet position already well above beta, with no capture threatened,
    // is taken as a cut without a search.
    if (!pv_node && !captures && depth > 0 && depth <= futility_depth &&
        beta < score_won_threshold && beta > -score_won_threshold) {
        const int eval = cached_evaluate(p, white_to_move, hash_stack[index]);
        if (eval - futility_margin * depth >= beta && !side_has_capture(p, !white_to_move))
            return eval;
    }

    // The table is consulted in the full-width part of the tree only.
    uint16_t table_move = no_move;
    TableEntry* entry = nullptr;
    const uint64_t key = hash_stack[index];
    if (depth > 0) {
        entry = table_slot(key);
        if (entry->key == key && entry->bound != bound_none) {
            table_move = entry->move < count ? entry->move : no_move;
            if (!pv_node && entry->depth >= depth) {
                int s = score_from_table(entry->score, ply);
                if (entry->bound == bound_exact || (entry->bound == bound_lower && s >= beta) ||
                    (entry->bound == bound_upper && s <= alpha))
                    return s;
            }
        }
        // With no best move known the node is rarely worth its full depth.
        if (table_move == no_move && depth >= 5 && !captures) --depth;
    }

    const int side = white_to_move ? 1 : 0;
    int* scores = order_scores[ply];
    uint16_t keys[max_moves];
    for (int i = 0; i < count; ++i) {
        move_order[ply][i] = i;
        keys[i] = move_key(p, list.entries[i], white_to_move);
        int s = history_score[side][keys[i] >> 8][keys[i] & 0xFF];
        if (i == table_move)
            s = 1 << 30;
        else if (keys[i] == killers[ply][0])
            s += 1 << 22;
        else if (keys[i] == killers[ply][1])
            s += 1 << 21;
        // A man crowned on the way is usually worth looking at first.
        if ((list.entries[i].kings & mover_of(list.entries[i], white_to_move)) !=
                (p.kings & mover_of(p, white_to_move)) &&
            !captures)
            s += 1 << 20;
        scores[i] = s;
    }

    // A forced move costs no depth: the line is the same whatever the depth.
    const int new_depth = depth > 0 && count == 1 ? depth : depth - 1;
    const int original_alpha = alpha;
    int best_score = -infinite_score;
    int best_move = 0;
    for (int n = 0; n < count; ++n) {
        const int i = pick_next(ply, scores, n, count);
        const Position& child = list.entries[i];
        hash_stack[index + 1] = hash_of(child, !white_to_move);
        // The child's table entry is a cache miss: start loading it while its moves are made.
        __builtin_prefetch(&table[hash_stack[index + 1] & table_mask & ~1ull]);
        reversible_from[index + 1] =
            move_is_irreversible(p, child, white_to_move) ? index + 1 : reversible_from[index];
        // Inside a stage only a capture ends it (a king is never lost but by one).
        stage_from[index + 1] = stage_plies && !captures ? stage_from[index] : index + 1;

        int score;
        if (n == 0) {
            score = -search(child, !white_to_move, new_depth, -beta, -alpha, ply + 1, pv_node);
        } else {
            // Late quiet moves are first looked at less deeply.
            int reduction = 0;
            if (depth >= 2 && !captures && n >= 2 && scores[n] < (1 << 20)) {
                reduction = reductions[depth < 63 ? depth : 63][n < 63 ? n : 63];
                if (pv_node && reduction > 1) --reduction;
                if (reduction > new_depth - 1) reduction = new_depth - 1;
                if (reduction < 1) reduction = 1;
            }
            score = -search(child, !white_to_move, new_depth - reduction, -alpha - 1, -alpha,
                            ply + 1, false);
            if (score > alpha && reduction)
                score =
                    -search(child, !white_to_move, new_depth, -alpha - 1, -alpha, ply + 1, false);
            if (score > alpha && score < beta)
                score = -search(child, !white_to_move, new_depth, -beta, -alpha, ply + 1, true);
        }
        if (aborted) return 0;

        if (score > best_score) {
            best_score = score;
            best_move = i;
            if (score > alpha) {
                alpha = score;
                pv_table[ply][0] = child;
                int length = pv_length[ply + 1];
                if (length > search_max_line - 1) length = search_max_line - 1;
                for (int k = 0; k < length; ++k) pv_table[ply][k + 1] = pv_table[ply + 1][k];
                pv_length[ply] = length + 1;
                if (alpha >= beta) {
                    if (!captures) {
                        if (killers[ply][0] != keys[i]) {
                            killers[ply][1] = killers[ply][0];
                            killers[ply][0] = keys[i];
                        }
                        int& h = history_score[side][keys[i] >> 8][keys[i] & 0xFF];
                        h += depth * depth;
                        if (h > (1 << 19)) {
                            for (auto& by_from : history_score[side])
                                for (int& value : by_from) value /= 2;
                        }
                    }
                    break;
                }
            }
        }
    }

    if (entry && (entry->key != key || depth >= entry->depth || entry->age != table_age)) {
        entry->key = key;
        entry->score = int16_t(score_to_table(best_score, ply));
        entry->depth = uint8_t(depth > 255 ? 255 : depth);
        entry->bound = best_score >= beta            ? bound_lower
                       : best_score > original_alpha ? bound_exact
                                                     : bound_upper;
        entry->move = uint16_t(best_move);
        entry->age = table_age;
    }
    return best_score;
}

} // namespace

int legal_moves(const Position& position, int white_to_move, MoveList& list) {
    int count = generate_captures(position, white_to_move, list, nullptr);
    if (count == 0) count = generate_quiet_moves(position, white_to_move, list);
    return count;
}

bool move_is_irreversible(const Position& before, const Position& after, int white_to_move) {
    const uint64_t opponent_before = white_to_move ? before.black : before.white;
    const uint64_t opponent_after = white_to_move ? after.black : after.white;
    if (opponent_before != opponent_after) return true; // a capture
    const uint64_t men_before = mover_of(before, white_to_move) & ~before.kings;
    const uint64_t men_after = mover_of(after, white_to_move) & ~after.kings;
    return men_before != men_after; // a man moved (and may have been crowned)
}

bool search_init(int table_megabytes) {
    fill_bit_count_table();
    build_ray_table();
    fill_pattern_table();
    for (int d = 1; d < 64; ++d)
        for (int n = 1; n < 64; ++n)
            reductions[d][n] = int(0.5 + std::log(d) * std::log(n + 1) / 1.6);
    if (table) return false;
    uint64_t entries = 2; // one pair at least
    while (entries * 2 * sizeof(TableEntry) <= uint64_t(table_megabytes) * 1024 * 1024)
        entries *= 2;
    table = new (std::align_val_t(64), std::nothrow) TableEntry[entries]();
    if (!table) {
        printf("Cannot allocate a transposition table of %d MB.\n", table_megabytes);
        return true;
    }
    table_mask = entries - 1;
    return false;
}

void search_clear() {
    if (table)
        for (uint64_t i = 0; i <= table_mask; ++i) table[i] = TableEntry{};
    for (auto& side : history_score)
        for (auto& by_from : side)
            for (int& value : by_from) value = 0;
    for (auto& pair : killers) pair[0] = pair[1] = 0;
    for (uint64_t& slot : eval_cache) slot = 0;
}

SearchReport search_position(const Position& root, int white_to_move, const SearchLimits& with,
                             const Position* history, int history_count) {
    SearchReport report{};
    limits = &with;
    nodes = 0;
    next_poll = poll_interval;
    aborted = false;
    ++table_age;

    // The game so far, for repetitions: only the last max_history positions matter.
    if (history_count > max_history) {
        history += history_count - max_history;
        history_count = max_history;
    }
    for (int i = 0; i < history_count; ++i) {
        int side = (history_count - i) % 2 == 1 ? !white_to_move : white_to_move;
        hash_stack[i] = hash_of(history[i], side);
        reversible_from[i] = i == 0 || move_is_irreversible(history[i - 1], history[i], !side)
                                 ? i
                                 : reversible_from[i - 1];
        stage_from[i] =
            i > 0 && same_lone_king_stage(history[i - 1], history[i]) ? stage_from[i - 1] : i;
    }
    root_index = history_count;
    hash_stack[root_index] = hash_of(root, white_to_move);
    reversible_from[root_index] =
        history_count == 0 || move_is_irreversible(history[history_count - 1], root, !white_to_move)
            ? root_index
            : reversible_from[root_index - 1];
    stage_from[root_index] =
        history_count > 0 && same_lone_king_stage(history[history_count - 1], root)
            ? stage_from[root_index - 1]
            : root_index;

    for (auto& by_side : history_score)
        for (auto& by_from : by_side)
            for (int& value : by_from) value /= 4;

    MoveList& root_list = move_lists[search_max_ply];
    const int root_count = legal_moves(root, white_to_move, root_list);
    if (root_count == 0) {
        report.score = -score_win;
        return report;
    }
    // Whatever happens below, a legal move is there to be played.
    report.has_move = true;
    report.best = root_list.entries[0];
    report.line.length = 1;
    report.line.after[0] = report.best;

    const int max_depth = with.max_depth < 1 ? 1 : with.max_depth > 100 ? 100 : with.max_depth;
    for (int depth = 1; depth <= max_depth; ++depth) {
        if (depth > 1 && with.should_stop && with.should_stop(with.context, true)) break;
        // A window around the last score first; the side it fails on is then opened.
        const bool narrow =
            depth >= 4 && report.score > -score_won_threshold && report.score < score_won_threshold;
        int alpha = narrow ? report.score - aspiration : -infinite_score;
        int beta = narrow ? report.score + aspiration : infinite_score;
        int score = 0;
        for (;;) {
            score = search(root, white_to_move, depth, alpha, beta, 0, true);
            if (aborted || (score > alpha && score < beta)) break;
            if (score <= alpha)
                alpha = -infinite_score;
            else
                beta = infinite_score;
        }
        if (aborted) break;
        report.depth = depth;
        report.score = score;
        report.nodes = nodes;
        if (pv_length[0] > 0) {
            report.best = pv_table[0][0];
            report.line.length = pv_length[0];
            for (int k = 0; k < pv_length[0]; ++k) report.line.after[k] = pv_table[0][k];
        }
        if (with.on_iteration) with.on_iteration(report, with.context);
        // One legal move needs no thought; a forced result found needs no more depth.
        if (root_count == 1) break;
        if ((score >= score_won_threshold || score <= -score_won_threshold) &&
            depth >= score_win - (score < 0 ? -score : score) + 2)
            break;
    }
    report.nodes = nodes;
    return report;
}
