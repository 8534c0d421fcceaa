// The tables of two, three and four kings against a lone king (standin/kings.h) by retrograde
// analysis, level by level, fewest kings first (after one king against one, which is not
// kept): a capture by the lone king leads into the table of one king fewer. Kept as the table keeps
// them, white always to move: the kings to move (S) or the lone king to move (L). A quiet move of
// white leads to the other half turned round, and a king's quiet move can be taken back by a quiet
// move, so the positions one quiet move before a position are the quiet moves of the side that just
// moved, made in it.
//   The kings to move with a capture (compulsory, and it takes the lone king): won in 1.
//   The lone king to move with no move: it has lost, 0.
//   The lone king to move with a capture: won in 1 + the longest of its captures, each won
//   in the plies of the kings left to move, if they win within the rules' count for a lone
//   king (16 moves a side against three pieces, 5 against fewer); otherwise not won.
//   Any other lone king to move: won in d + 1 once every move of it leads to a position won
//   within d (the last found gives d); the kings to move: won in d + 1 as soon as one move
//   leads to a position won in d.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

#include "board/movegen.h"
#include "tools/endgame/endgame.h"

namespace {

MoveList moves;

// The plies the rules allow kings against a lone king, counted from the capture that made
// the position (standin/kings.h, tools/strength: lone_king_plies).
int plies_allowed(int kings) {
    return kings == 3 ? 32 : 10;
}

// One table of n kings against one, two halves of a byte a position (S then L).
struct KingsTable {
    uint64_t half;
    uint8_t* values;
};

EndgameSlice strong_slice(int n) {
    return EndgameSlice{0, n, 0, 1};
}
EndgameSlice lone_slice(int n) {
    return EndgameSlice{0, 1, 0, n};
}

// The value of an L position from its lone king's captures (the first count of moves): 1 + the
// longest win, kings_not_won if one of them wins no more (tables[m]: m kings against one).
uint8_t value_of_captures(int count, const KingsTable* tables) {
    int longest = 0;
    for (int k = 0; k < count; ++k) {
        const Position after = endgame_turned(moves.entries[k]); // the kings to move, white
        const int kings = std::popcount(after.white);
        if (kings == 0) return kings_not_won;
        const int v = tables[kings].values[endgame_index(after, strong_slice(kings))];
        if (v == kings_not_won || v > plies_allowed(kings)) return kings_not_won;
        if (v > longest) longest = v;
    }
    return uint8_t(longest + 1);
}

// Fills tables[n] from the tables of fewer kings. True on failure (a win too long to keep).
bool solve(int n, KingsTable* tables, uint8_t* left) {
    const KingsTable& t = tables[n];
    uint8_t* strong = t.values;
    uint8_t* lone = t.values + t.half;
    memset(t.values, kings_not_won, 2 * t.half);
    int highest = 1;
    for (uint64_t i = 0; i < t.half; ++i) {
        Position p;
        if (!endgame_position(strong_slice(n), i, p) && side_has_capture(p, 1)) strong[i] = 1;
        left[i] = 0;
        if (endgame_position(lone_slice(n), i, p)) continue;
        const int captures = generate_captures(p, 1, moves, nullptr);
        if (captures) {
            lone[i] = value_of_captures(captures, tables);
            if (lone[i] != kings_not_won && lone[i] > highest) highest = lone[i];
            continue;
        }
        left[i] = uint8_t(generate_quiet_moves(p, 1, moves));
        if (left[i] == 0) lone[i] = 0;
    }
    for (int level = 0; level <= highest; ++level) {
        if (level + 1 >= kings_not_won) {
            printf("endgame: %d kings against one need more than %d plies\n", n, level);
            return true;
        }
        const bool lone_level = level % 2 == 0;
        const uint8_t* decided = lone_level ? lone : strong;
        for (uint64_t i = 0; i < t.half; ++i) {
            if (decided[i] != level) continue;
            Position p;
            endgame_position(lone_level ? lone_slice(n) : strong_slice(n), i, p);
            // The position before: the other half's side (now black) made the last move.
            const int count = generate_quiet_moves(endgame_turned(p), 1, moves);
            for (int k = 0; k < count; ++k) {
                const Position& before = moves.entries[k];
                if (lone_level) {
                    const uint64_t j = endgame_index(before, strong_slice(n));
                    if (strong[j] != kings_not_won) continue;
                    strong[j] = uint8_t(level + 1);
                } else {
                    const uint64_t j = endgame_index(before, lone_slice(n));
                    if (left[j] == 0 || --left[j] > 0) continue;
                    lone[j] = uint8_t(level + 1);
                }
                if (level + 1 > highest) highest = level + 1;
            }
        }
    }
    return false;
}

} // namespace

bool generate_kings(bool verbose) {
    const auto start = std::chrono::steady_clock::now();
    fill_bit_count_table();
    build_ray_table();
    KingsTable tables[5] = {};
    delete[] kings_table;
    kings_table = new (std::nothrow) uint8_t[kings_table_size];
    uint8_t* left = new (std::nothrow) uint8_t[kings_half]; // an L's moves not yet known won
    bool failed = !kings_table || !left;
    for (int n = 1; n <= 4 && !failed; ++n) {
        tables[n].half = endgame_slice_size(strong_slice(n));
        if (n > 1 && tables[n].half != kings_half_of(n)) {
            printf("endgame: the table of %d kings against one does not fit its place\n", n);
            failed = true;
            break;
        }
        tables[n].values =
            n == 1 ? new (std::nothrow) uint8_t[2 * tables[n].half] : kings_table + kings_offset(n);
        failed = !tables[n].values;
    }
    if (failed) printf("endgame: no memory for the tables of kings against one\n");
    for (int n = 1; n <= 4 && !failed; ++n) failed = solve(n, tables, left);
    delete[] left;
    delete[] tables[1].values;
    if (failed) return true;
    for (int n = 4; verbose && n >= 2; --n) {
        uint64_t won[2] = {}, positions[2] = {};
        int longest = 0;
        Position p;
        for (int h = 0; h < 2; ++h)
            for (uint64_t i = 0; i < tables[n].half; ++i) {
                if (endgame_position(h ? lone_slice(n) : strong_slice(n), i, p)) continue;
                ++positions[h];
                const int v = tables[n].values[h * tables[n].half + i];
                if (v == kings_not_won) continue;
                ++won[h];
                if (v > longest) longest = v;
            }
        printf("%d kings against one: won %llu of %llu positions with the kings to move, "
               "%llu of %llu with the lone king to move; the longest win %d plies\n",
               n, static_cast<unsigned long long>(won[0]),
               static_cast<unsigned long long>(positions[0]),
               static_cast<unsigned long long>(won[1]),
               static_cast<unsigned long long>(positions[1]), longest);
    }
    if (verbose)
        printf("kings against one: %.1f s\n",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return false;
}

bool write_kings(const char* path) {
    FILE* file = fopen(path, "wb");
    bool failed = !file || fputs(kings_magic, file) < 0 ||
                  fwrite(kings_table, 1, kings_table_size, file) != kings_table_size;
    if (file) failed |= fclose(file) != 0;
    if (failed) printf("endgame: cannot write %s\n", path);
    return failed;
}
