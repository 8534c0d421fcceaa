// The bitbases by repeated passes over each pair of slices: a position is won when a move
// leads to a position lost for the other side, lost when every move leads to a position won
// for the other side, and what no pass decides is a draw (the play goes round for ever).
// Each position is kept for white to move; a move of white leaves black to move, which is
// the board turned round with the colours swapped (endgame_turned) in the twin slice.
#include "tools/endgame/endgame.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "board/movegen.h"

namespace {

MoveList moves;

bool same(const EndgameSlice& a, const EndgameSlice& b) {
    return a.white_men == b.white_men && a.white_kings == b.white_kings &&
           a.black_men == b.black_men && a.black_kings == b.black_kings;
}

EndgameSlice twin_of(const EndgameSlice& s) {
    return EndgameSlice{s.black_men, s.black_kings, s.white_men, s.white_kings};
}

// The values of the pair being worked out, a byte a position: EndgameValue.
struct Working {
    EndgameSlice slice[2];
    uint8_t* values[2];
};

EndgameValue value_of_white_move(const Position& p, const Working& w) {
    int count = generate_captures(p, 1, moves, nullptr);
    if (count == 0) count = generate_quiet_moves(p, 1, moves);
    if (count == 0) return endgame_loss;
    bool all_won = true;
    for (int i = 0; i < count; ++i) {
        const Position& child = moves.entries[i];
        if (child.black == 0) return endgame_win;
        const Position t = endgame_turned(child);
        const EndgameSlice s = endgame_slice_of(t);
        const uint64_t index = endgame_index(t, s);
        EndgameValue v;
        if (same(s, w.slice[0]))
            v = EndgameValue(w.values[0][index]);
        else if (same(s, w.slice[1]))
            v = EndgameValue(w.values[1][index]);
        else
            v = endgame_stored(endgame_slice_offset(s) + index);
        if (v == endgame_loss) return endgame_win;
        if (v != endgame_win) all_won = false;
    }
    return all_won ? endgame_loss : endgame_unknown;
}

bool solve_pair(const EndgameSlice& slice, bool verbose) {
    const auto start = std::chrono::steady_clock::now();
    const EndgameSlice twin = twin_of(slice);
    const int halves = same(slice, twin) ? 1 : 2;
    Working w{{slice, twin}, {nullptr, nullptr}};
    uint64_t size[2];
    for (int h = 0; h < halves; ++h) {
        size[h] = endgame_slice_size(w.slice[h]);
        w.values[h] = new (std::nothrow) uint8_t[size[h]];
        if (!w.values[h]) {
            printf("endgame: no memory for a slice of %llu positions\n",
                   static_cast<unsigned long long>(size[h]));
            return true;
        }
        memset(w.values[h], endgame_unknown, size[h]);
        // Indices that name no position are drawn, and never looked at again.
        Position p;
        for (uint64_t i = 0; i < size[h]; ++i)
            if (endgame_position(w.slice[h], i, p)) w.values[h][i] = endgame_draw;
    }
    if (halves == 1) w.values[1] = w.values[0];
    int passes = 0;
    for (bool changed = true; changed; ++passes) {
        changed = false;
        for (int h = 0; h < halves; ++h)
            for (uint64_t i = 0; i < size[h]; ++i) {
                if (w.values[h][i] != endgame_unknown) continue;
                Position p;
                endgame_position(w.slice[h], i, p);
                const EndgameValue v = value_of_white_move(p, w);
                if (v == endgame_unknown) continue;
                w.values[h][i] = v;
                changed = true;
            }
    }
    uint64_t counts[4] = {};
    for (int h = 0; h < halves; ++h) {
        const uint64_t offset = endgame_slice_offset(w.slice[h]);
        for (uint64_t i = 0; i < size[h]; ++i) {
            const EndgameValue v =
                w.values[h][i] == endgame_unknown ? endgame_draw : EndgameValue(w.values[h][i]);
            ++counts[v];
            endgame_store(offset + i, v);
        }
        delete[] w.values[h];
    }
    if (verbose) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        printf("white %d men %d kings, black %d men %d kings (and turned): %llu positions, "
               "%d passes, %llu won, %llu drawn or none, %llu lost, %.1f s\n",
               slice.white_men, slice.white_kings, slice.black_men, slice.black_kings,
               static_cast<unsigned long long>(counts[1] + counts[2] + counts[3]), passes,
               static_cast<unsigned long long>(counts[1]),
               static_cast<unsigned long long>(counts[2]),
               static_cast<unsigned long long>(counts[3]), seconds);
    }
    return false;
}

} // namespace

bool generate_endgame(int pieces, bool verbose) {
    if (pieces < 2 || pieces > endgame_max_pieces) {
        printf("endgame: pieces must be 2 to %d\n", endgame_max_pieces);
        return true;
    }
    fill_bit_count_table();
    build_ray_table();
    const uint64_t positions = endgame_layout(pieces);
    delete[] endgame_table;
    endgame_table = new (std::nothrow) uint8_t[(positions + 3) / 4]();
    if (!endgame_table) {
        printf("endgame: no memory for %llu positions\n",
               static_cast<unsigned long long>(positions));
        return true;
    }
    for (int n = 2; n <= pieces; ++n)
        for (int men = 0; men <= n; ++men)
            for (int wm = 0; wm <= men; ++wm)
                for (int wk = 0; wk <= n - men; ++wk) {
                    const EndgameSlice s{wm, wk, men - wm, n - men - wk};
                    if (s.white_men + s.white_kings == 0 || s.black_men + s.black_kings == 0)
                        continue;
                    // Each pair once: from the slice whose white side is the larger, or
                    // has more men when both are as large.
                    const EndgameSlice t = twin_of(s);
                    const bool first =
                        wm + wk > t.white_men + t.white_kings ||
                        (wm + wk == t.white_men + t.white_kings && wm >= t.white_men);
                    if (first && solve_pair(s, verbose)) return true;
                }
    endgame_pieces = pieces;
    return false;
}

bool write_endgame(const char* path, int pieces) {
    FILE* file = fopen(path, "wb");
    if (!file) {
        printf("endgame: cannot write %s\n", path);
        return true;
    }
    const uint64_t bytes = (endgame_layout(pieces) + 3) / 4;
    bool failed = fprintf(file, "%s%d\n", endgame_magic, pieces) < 0 ||
                  fwrite(endgame_table, 1, bytes, file) != bytes;
    failed |= fclose(file) != 0;
    if (failed) printf("endgame: cannot write %s\n", path);
    return failed;
}
