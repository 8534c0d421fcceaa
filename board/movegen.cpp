// Legal move generation on whole masks: men by shifts, kings along the precomputed rays.
//
// Every generator is a template on the side to move and, for captures, on whether paths are
// recorded, so that perft and the search pay for neither a colour test per step nor a path.
#include "board/movegen.h"

// Bound of the capture list. A list of maximal captures holds each (from, to, captured set)
// once. We know of no proof of a small bound, so the figure is empirical: simulated annealing
// over tens of millions of legal positions (at most 20 pieces a side, no man on its own
// crowning row) found at most 407 maximal captures in one
// position (six white kings, 6 pieces each), and max_moves = 1024 leaves a wide margin. Were
// a position ever to have more, nothing is written past the end: store_capture drops a
// capture that finds the list full and sets the list's `truncated` flag (cleared when a
// longer capture empties the list, since whatever was dropped was shorter), and the working
// path then lives in the last record (index max_moves) of the max_moves + 1 the caller
// provides. A caller that sees `truncated` knows the list is incomplete; the perft tool says
// so, and a game position matching no listed move is reported by the move translation.
//
// A position with more than 20 pieces of a side (outside the rules, but possible in a custom
// setup) might allow a capture of more than max_capture_pieces (none was found: the longest
// the same search found, even with 32 pieces a side, takes 19). With paths recorded the
// search stops at max_capture_pieces so that no step is written past the end of a
// CapturePath; without paths it is followed to the end.

// Quiet moves are written without a check: a target square is reached by at most four
// pieces, so no position has more than 196 (movegen.h).
#ifndef BOARD_SMALL_LIST_TEST
static_assert(max_moves >= 196);
#endif

namespace {

template <int D> constexpr uint64_t shift(uint64_t x) {
    if constexpr (D == down_right)
        return x << 6;
    else if constexpr (D == down_left)
        return x << 5;
    else if constexpr (D == up_right)
        return x >> 5;
    else
        return x >> 6;
}

template <int D> constexpr uint64_t shift_back(uint64_t x) {
    if constexpr (D == down_right)
        return x >> 6;
    else if constexpr (D == down_left)
        return x >> 5;
    else if constexpr (D == up_right)
        return x << 5;
    else
        return x << 6;
}

inline uint64_t lowest_bit(uint64_t x) {
    return x & (0 - x);
}
inline int bit_index(uint64_t x) {
    return __builtin_ctzll(x);
}

// The mover's and the opponent's masks of a position.
template <bool White> inline uint64_t& own_of(Position& p) {
    if constexpr (White)
        return p.white;
    else
        return p.black;
}
template <bool White> inline uint64_t& opp_of(Position& p) {
    if constexpr (White)
        return p.black;
    else
        return p.white;
}
template <bool White> inline uint64_t own_of(const Position& p) {
    if constexpr (White)
        return p.white;
    else
        return p.black;
}
template <bool White> inline uint64_t opp_of(const Position& p) {
    if constexpr (White)
        return p.black;
    else
        return p.white;
}
template <bool White> constexpr uint64_t promotion_row() {
    if constexpr (White)
        return white_promotion_mask;
    else
        return black_promotion_mask;
}

inline Position on_board(const Position& p) {
    // Stray bits outside the board would index past the ray table; a valid position has none.
    return Position{p.black & board_mask, p.white & board_mask, p.kings & board_mask};
}

// ---- quiet moves ------------------------------------------------------------------------

template <bool White> inline int quiet_moves(const Position& p, Position* out) {
    const uint64_t own = own_of<White>(p);
    const uint64_t opp = opp_of<White>(p);
    const uint64_t empty = ~(p.black | p.white);
    const uint64_t men = own & ~p.kings;
    int n = 0;
    auto add_man_moves = [&](uint64_t targets, auto step_back) {
        while (targets != 0) {
            uint64_t t = lowest_bit(targets);
            targets ^= t;
            uint64_t s = step_back(t);
            Position q;
            own_of<White>(q) = own ^ (s | t);
            opp_of<White>(q) = opp;
            q.kings = p.kings | (t & promotion_row<White>());
            out[n++] = q;
        }
    };
    if constexpr (White) {
        add_man_moves((men >> 5) & empty & step5_mask, [](uint64_t t) { return t << 5; });
        add_man_moves((men >> 6) & empty & step6_mask, [](uint64_t t) { return t << 6; });
    } else {
        add_man_moves(((men & step6_mask) << 6) & empty, [](uint64_t t) { return t >> 6; });
        add_man_moves(((men & step5_mask) << 5) & empty, [](uint64_t t) { return t >> 5; });
    }
    for (uint64_t kings = own & p.kings; kings != 0; kings &= kings - 1) {
        const uint64_t k = lowest_bit(kings);
        const RayEntry& entry = ray_table[bit_index(k)];
        for (int d = 0; d < 4; d++) {
            const uint64_t* ray = entry.ray[d];
            for (int i = 0, length = entry.length[d]; i < length && (ray[i] & empty); i++) {
                Position q;
                own_of<White>(q) = own ^ (k | ray[i]);
                opp_of<White>(q) = opp;
                q.kings = p.kings ^ (k | ray[i]);
                out[n++] = q;
            }
        }
    }
    return n;
}

// ---- captures ---------------------------------------------------------------------------

// The state shared by all recursion levels of one generate_captures call.
struct CaptureSearch {
    MoveList& list;
    CapturePath* paths; // null when no path is recorded
    int best;           // pieces taken by the captures in the list
};

template <bool Paths> inline CapturePath& working_path(CaptureSearch& s) {
    return s.paths[s.list.count];
}

template <bool Paths> inline void copy_steps(CapturePath& to, const CapturePath& from, int n) {
    for (int k = 0; k <= n; k++) to.steps[k] = from.steps[k];
}

template <bool White, bool Paths>
void store_capture(CaptureSearch& s, const Position& p, uint64_t captured, uint64_t square,
                   int taken, bool promotion) {
    if (taken < s.best) return;
    if (taken > s.best) {
        if constexpr (Paths) {
            if (s.list.count != 0) copy_steps<Paths>(s.paths[0], working_path<Paths>(s), taken);
        }
        s.list.count = 0;
        s.list.truncated = false; // whatever was dropped was shorter
        s.best = taken;
    }
    Position entry = p;
    if (promotion) entry.kings |= square & promotion_row<White>();
    opp_of<White>(entry) &= ~captured;
    entry.kings &= ~captured;
    const int c = s.list.count;
    // Different jump orders can reach the same squares with the same pieces only along a
    // closed loop, which takes at least four pieces.
    if (taken >= 4) {
        for (int i = 0; i < c; i++)
            if (s.list.entries[i] == entry) return;
    }
    if (c >= max_moves) {
        s.list.truncated = true;
        return;
    }
    s.list.entries[c] = entry;
    if constexpr (Paths) {
        s.paths[c].count = static_cast<int8_t>(taken);
        copy_steps<Paths>(s.paths[c + 1], s.paths[c], taken);
    }
    s.list.count = c + 1;
}

template <bool White, bool Paths>
void extend_man_capture(CaptureSearch& s, const Position& p, uint64_t captured, uint64_t square,
                        int taken);

template <int D, bool White, bool Paths>
inline bool man_jump(CaptureSearch& s, const Position& p, uint64_t captured, uint64_t square,
                     int taken, uint64_t empty, uint64_t opp) {
    const uint64_t jumped = shift<D>(square) & interior_mask & opp & ~captured;
    const uint64_t landing = shift<D>(jumped) & empty;
    if (landing == 0) return false;
    Position next = p;
    own_of<White>(next) ^= square | landing;
    const uint64_t now_captured = captured | jumped;
    if constexpr (Paths) {
        Position& step = working_path<Paths>(s).steps[taken + 1];
        step = next;
        opp_of<White>(step) &= ~now_captured;
        step.kings &= ~now_captured;
    }
    extend_man_capture<White, Paths>(s, next, now_captured, landing, taken + 1);
    return true;
}

template <bool White, bool Paths>
void extend_man_capture(CaptureSearch& s, const Position& p, uint64_t captured, uint64_t square,
                        int taken) {
    if constexpr (Paths) {
        if (taken >= max_capture_pieces) {
            store_capture<White, Paths>(s, p, captured, square, taken, true);
            return;
        }
    }
    const uint64_t empty = ~(p.black | p.white);
    const uint64_t opp = opp_of<White>(p);
    bool found = man_jump<down_right, White, Paths>(s, p, captured, square, taken, empty, opp);
    found |= man_jump<down_left, White, Paths>(s, p, captured, square, taken, empty, opp);
    found |= man_jump<up_right, White, Paths>(s, p, captured, square, taken, empty, opp);
    found |= man_jump<up_left, White, Paths>(s, p, captured, square, taken, empty, opp);
    if (!found) store_capture<White, Paths>(s, p, captured, square, taken, true);
}

// The pair of directions across a line: 0 for directions 0 and 3, 1 for directions 1 and 2.
constexpr int across_pair(int d) {
    return (d == 0 || d == 3) ? 1 : 0;
}

template <bool White, bool Paths>
void extend_king_capture(CaptureSearch& s, const Position& p, uint64_t captured, uint64_t square,
                         int pair, int taken);

// Walks one ray of a king standing on `square` that has taken `captured` so far (`taken`
// pieces): every opponent piece it can take along the ray, each landing square beyond, and
// the continuation across the line from there. Returns whether a capture was found.
template <bool White, bool Paths>
inline bool king_ray_captures(CaptureSearch& s, const Position& p, uint64_t captured,
                              uint64_t square, int taken, int d, uint64_t empty, uint64_t opp) {
    const RayEntry& entry = ray_table[bit_index(square)];
    const int length = entry.length[d];
    const uint64_t* ray = entry.ray[d];
    int i = 0;
    while (i < length - 2 && (ray[i] & empty)) i++;
    if (i >= length - 1) return false;
    bool found = false;
    int k = taken;
    uint64_t line = 0;
    for (;;) {
        if (!(ray[i] & opp) || (ray[i] & captured) || !(ray[i + 1] & empty)) break;
        if constexpr (Paths) {
            if (k >= max_capture_pieces) break;
        }
        line |= ray[i];
        k++;
        found = true;
        const uint64_t now_captured = captured | line;
        int j = i + 1;
        for (; j < length && (ray[j] & empty); j++) {
            Position next = p;
            own_of<White>(next) ^= square | ray[j];
            next.kings ^= square | ray[j];
            if constexpr (Paths) {
                Position& step = working_path<Paths>(s).steps[k];
                step = next;
                opp_of<White>(step) &= ~now_captured;
                step.kings &= ~now_captured;
            }
            extend_king_capture<White, Paths>(s, next, now_captured, ray[j], across_pair(d), k);
        }
        if (j >= length - 1) break;
        i = j;
    }
    return found;
}

template <bool White, bool Paths>
void extend_king_capture(CaptureSearch& s, const Position& p, uint64_t captured, uint64_t square,
                         int pair, int taken) {
    const uint64_t empty = ~(p.black | p.white);
    const uint64_t opp = opp_of<White>(p);
    bool found;
    if (pair == 0) {
        found = king_ray_captures<White, Paths>(s, p, captured, square, taken, 0, empty, opp);
        found |= king_ray_captures<White, Paths>(s, p, captured, square, taken, 3, empty, opp);
    } else {
        found = king_ray_captures<White, Paths>(s, p, captured, square, taken, 1, empty, opp);
        found |= king_ray_captures<White, Paths>(s, p, captured, square, taken, 2, empty, opp);
    }
    if (!found) store_capture<White, Paths>(s, p, captured, square, taken, false);
}

template <int D, bool White, bool Paths>
inline void men_first_jumps(CaptureSearch& s, const Position& p, uint64_t men, uint64_t empty,
                            uint64_t opp) {
    uint64_t landings = shift<D>(shift<D>(men & jump_mask[D]) & opp) & empty;
    while (landings != 0) {
        const uint64_t landing = lowest_bit(landings);
        landings ^= landing;
        const uint64_t jumped = shift_back<D>(landing);
        const uint64_t from = shift_back<D>(jumped);
        Position next = p;
        own_of<White>(next) ^= from | landing;
        if constexpr (Paths) {
            Position& step = working_path<Paths>(s).steps[1];
            step = next;
            opp_of<White>(step) &= ~jumped;
            step.kings &= ~jumped;
        }
        extend_man_capture<White, Paths>(s, next, jumped, landing, 1);
    }
}

template <bool White, bool Paths>
int captures(const Position& p, MoveList& list, CapturePath* paths, int& best) {
    CaptureSearch s{list, paths, 0};
    list.count = 0;
    list.truncated = false;
    if constexpr (Paths) paths[0].steps[0] = p; // every later working path copies it
    const uint64_t own = own_of<White>(p);
    const uint64_t opp = opp_of<White>(p);
    const uint64_t empty = ~(p.black | p.white);
    const uint64_t men = own & ~p.kings;
    if (men != 0) {
        if constexpr (White) {
            men_first_jumps<up_right, White, Paths>(s, p, men, empty, opp);
            men_first_jumps<up_left, White, Paths>(s, p, men, empty, opp);
            men_first_jumps<down_right, White, Paths>(s, p, men, empty, opp);
            men_first_jumps<down_left, White, Paths>(s, p, men, empty, opp);
        } else {
            men_first_jumps<down_right, White, Paths>(s, p, men, empty, opp);
            men_first_jumps<down_left, White, Paths>(s, p, men, empty, opp);
            men_first_jumps<up_right, White, Paths>(s, p, men, empty, opp);
            men_first_jumps<up_left, White, Paths>(s, p, men, empty, opp);
        }
    }
    for (uint64_t kings = own & p.kings; kings != 0; kings &= kings - 1) {
        const uint64_t k = lowest_bit(kings);
        for (int d = 0; d < 4; d++) king_ray_captures<White, Paths>(s, p, 0, k, 0, d, empty, opp);
    }
    best = s.best;
    return list.count;
}

int captures_of(const Position& position, int white_to_move, MoveList& list,
                CapturePath* capture_paths, int& best) {
    const Position p = on_board(position);
    if (capture_paths != nullptr) {
        return white_to_move ? captures<true, true>(p, list, capture_paths, best)
                             : captures<false, true>(p, list, capture_paths, best);
    }
    return white_to_move ? captures<true, false>(p, list, nullptr, best)
                         : captures<false, false>(p, list, nullptr, best);
}

} // namespace

int generate_quiet_moves(const Position& position, int white_to_move, MoveList& list) {
    const Position p = on_board(position);
    list.truncated = false;
    list.count =
        white_to_move ? quiet_moves<true>(p, list.entries) : quiet_moves<false>(p, list.entries);
    return list.count;
}

int generate_captures(const Position& position, int white_to_move, MoveList& list,
                      CapturePath* capture_paths) {
    int best;
    return captures_of(position, white_to_move, list, capture_paths, best);
}

int generate_legal_moves(const Position& position, int white_to_move, MoveList& list,
                         CapturePath* capture_paths, int& n) {
    int count = captures_of(position, white_to_move, list, capture_paths, n);
    if (count > 0) return count;
    n = 0;
    return generate_quiet_moves(position, white_to_move, list);
}

// ---- capture test -----------------------------------------------------------------------

int ray_has_capture(int32_t length, const uint64_t* ray, uint64_t empty, uint64_t opp) {
    if (length < 2) return 0;
    int i = 0;
    while (i < length - 2 && (ray[i] & empty)) i++;
    return (ray[i] & opp) && (ray[i + 1] & empty) ? 1 : 0;
}

int side_has_capture(const Position& position, int white_to_move) {
    const Position p = on_board(position);
    const uint64_t own = white_to_move ? p.white : p.black;
    const uint64_t opp = white_to_move ? p.black : p.white;
    const uint64_t empty = ~(p.black | p.white);
    const uint64_t men = own & ~p.kings;
    // Down: the jumped pieces of direction 0 are moved one bit further, so that one shift by
    // five lands both directions.
    const uint64_t j0 = ((men & jump_mask[0]) << 6) & opp;
    const uint64_t j1 = ((men & jump_mask[1]) << 5) & opp;
    if ((((j0 << 1) | j1) << 5) & empty) return 1;
    // Up: likewise, direction 3's jumped pieces one bit nearer (the interior mask moved too).
    const uint64_t j2 = (men >> 5) & opp & interior_mask;
    const uint64_t j3 = (men >> 7) & (opp >> 1) & (interior_mask >> 1);
    if (((j3 | j2) >> 5) & empty) return 1;
    for (uint64_t kings = own & p.kings; kings != 0; kings &= kings - 1) {
        const RayEntry& entry = ray_table[bit_index(kings)];
        for (int d = 0; d < 4; d++)
            if (ray_has_capture(entry.length[d], entry.ray[d], empty, opp)) return 1;
    }
    return 0;
}

// ---- squares of a listed move -------------------------------------------------------------

namespace {
uint64_t mover_of(const Position& p, int white_to_move) {
    return white_to_move ? p.white : p.black;
}
uint64_t opponent_of(const Position& p, int white_to_move) {
    return white_to_move ? p.black : p.white;
}
} // namespace

MoveSquares move_squares(int n, int i, int white_to_move, const Position& before,
                         const MoveList& list, const CapturePath* capture_paths) {
    if (i < 0 || i >= list.count || i >= max_moves) return MoveSquares{0, 0};
    if (n == 0) {
        const uint64_t b = mover_of(before, white_to_move);
        const uint64_t a = mover_of(list.entries[i], white_to_move);
        return MoveSquares{b & ~a, a & ~b};
    }
    if (capture_paths == nullptr || n < 0 || n > max_capture_pieces) return MoveSquares{0, 0};
    const CapturePath& path = capture_paths[i];
    return MoveSquares{
        mover_of(path.steps[0], white_to_move) & ~mover_of(path.steps[1], white_to_move),
        mover_of(path.steps[n], white_to_move) & ~mover_of(path.steps[n - 1], white_to_move)};
}

uint64_t path_piece_taken(const CapturePath& path, int k, int white_to_move) {
    if (k < 0 || k >= path.count || k >= max_capture_pieces) return 0;
    return opponent_of(path.steps[k], white_to_move) &
           ~opponent_of(path.steps[k + 1], white_to_move);
}

bool path_takes_piece(int n, int white_to_move, uint64_t piece, const CapturePath* capture_paths,
                      int j) {
    if (capture_paths == nullptr || j < 0 || j > max_moves) return false;
    for (int k = 0; k < n && k < max_capture_pieces; k++)
        if (path_piece_taken(capture_paths[j], k, white_to_move) == piece) return true;
    return false;
}

// ---- perft ----------------------------------------------------------------------------------

namespace {

template <bool White> uint64_t perft_of(const Position& p, int depth) {
    MoveList list;
    int best;
    int count = captures<White, false>(p, list, nullptr, best);
    if (count == 0) count = quiet_moves<White>(p, list.entries);
    if (depth == 1) return static_cast<uint64_t>(count);
    uint64_t leaves = 0;
    for (int i = 0; i < count; i++) leaves += perft_of<!White>(list.entries[i], depth - 1);
    return leaves;
}

} // namespace

uint64_t perft(const Position& position, int white_to_move, int depth) {
    if (depth <= 0) return 1;
    const Position p = on_board(position);
    return white_to_move ? perft_of<true>(p, depth) : perft_of<false>(p, depth);
}
