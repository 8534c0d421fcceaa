// capture-search [SECONDS] [SEED] [count|length|crowded] [FEN]: looks for legal positions (at most
// 20 pieces a side, no man on its own promotion row) where white has many maximal captures, with
// "length" a capture taking many pieces, with "crowded" the same allowing 32 pieces a side, by
// simulated annealing on random positions. Prints each new record as a FEN. Not part of the test
// run; it is how the capture list bound and the longest captures were explored. A FEN given last is
// where the search starts.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "board/fen.h"
#include "board/movegen.h"

namespace {

std::mt19937_64 rng;
MoveList list;
bool by_length = false;
int most_pieces = 20; // a side's pieces; more only to look for captures past the rules

int below(int n) {
    return static_cast<int>(rng() % static_cast<uint64_t>(n));
}

int count_of(uint64_t m) {
    return __builtin_popcountll(m);
}

bool legal(const Position& p) {
    if (count_of(p.white) > most_pieces || count_of(p.black) > most_pieces) return false;
    if (p.white & ~p.kings & white_promotion_mask) return false;
    if (p.black & ~p.kings & black_promotion_mask) return false;
    return true;
}

int score(const Position& p) {
    int n;
    generate_legal_moves(p, 1, list, nullptr, n);
    if (by_length) return n;
    if (list.truncated) {
        char fen[fen_buffer_size];
        format_fen(p, 1, fen, sizeof fen);
        printf("list full: %s\n", fen);
    }
    return n > 0 ? list.count : 0;
}

uint64_t random_square() {
    return square_mask[below(50)];
}

Position mutate(Position p) {
    const uint64_t all = p.black | p.white;
    const int kind = below(5);
    uint64_t s = random_square();
    if (kind == 0 && !(all & s)) { // add a piece
        if (below(2))
            p.black |= s;
        else
            p.white |= s;
        if (below(3) == 0) p.kings |= s;
    } else if (kind == 1 && (all & s)) { // remove one
        p.black &= ~s;
        p.white &= ~s;
        p.kings &= ~s;
    } else if (kind == 2 && (all & s)) { // move one to an empty square
        uint64_t t = random_square();
        if (all & t) return p;
        const bool black = p.black & s, king = p.kings & s;
        p.black &= ~s;
        p.white &= ~s;
        p.kings &= ~s;
        (black ? p.black : p.white) |= t;
        if (king) p.kings |= t;
    } else if (kind == 3 && (all & s)) { // crown or uncrown
        p.kings ^= s;
    } else if (kind == 4 && (all & s)) { // move one to a neighbouring square
        const RayEntry& e = ray_table[__builtin_ctzll(s)];
        const int d = below(4);
        if (e.length[d] == 0) return p;
        uint64_t t = e.ray[d][0];
        if (all & t) return p;
        const bool black = p.black & s, king = p.kings & s;
        p.black &= ~s;
        p.white &= ~s;
        p.kings &= ~s;
        (black ? p.black : p.white) |= t;
        if (king) p.kings |= t;
    }
    return p;
}

Position random_start() {
    Position p{0, 0, 0};
    const int whites = 1 + below(6), blacks = 8 + below(most_pieces - 7);
    for (int i = 0; i < whites; i++) {
        uint64_t s = random_square();
        if ((p.black | p.white) & s) continue;
        p.white |= s;
        if (below(3) != 0) p.kings |= s;
    }
    for (int i = 0; i < blacks; i++) {
        uint64_t s = random_square();
        if ((p.black | p.white) & s) continue;
        p.black |= s;
        if (below(4) == 0) p.kings |= s;
    }
    return p;
}

} // namespace

int main(int argc, char** argv) {
    fill_bit_count_table();
    build_ray_table();
    const double seconds = argc > 1 ? atof(argv[1]) : 60.0;
    rng.seed(argc > 2 ? strtoull(argv[2], nullptr, 10) : 1);
    const std::string mode = argc > 3 ? argv[3] : "";
    by_length = mode == "length" || mode == "crowded";
    if (mode == "crowded") most_pieces = 32;
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    int record = 0;
    Position best{0, 0, 0};
    if (argc > 4) {
        int side;
        char error[200];
        if (parse_fen(argv[4], best, side, error, sizeof error)) {
            printf("capture-search: %s\n", error);
            return 2;
        }
        record = score(best);
        printf("start: %d\n", record);
    }
    long evaluations = 0;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    while (elapsed() < seconds) {
        // Half the restarts shake the best position so far, half start afresh.
        Position p = random_start();
        while (!legal(p)) p = random_start();
        if (record > 0 && below(2) == 0) {
            p = best;
            for (int i = 0; i < 8; i++) {
                Position q = mutate(p);
                if (legal(q)) p = q;
            }
        }
        int current = score(p);
        double temperature = 3.0;
        for (int step = 0; step < 200000; step++) {
            Position q = mutate(p);
            if (!legal(q)) continue;
            const int s = score(q);
            evaluations++;
            if (s >= current || unit(rng) < std::exp((s - current) / temperature)) {
                p = q;
                current = s;
            }
            temperature = std::max(0.05, temperature * 0.99997);
            if (current > record) {
                record = current;
                best = p;
                char fen[fen_buffer_size];
                format_fen(p, 1, fen, sizeof fen);
                printf("%d %s: %s (%.0f s)\n", record,
                       by_length ? "pieces taken" : "maximal captures", fen, elapsed());
                fflush(stdout);
            }
        }
    }
    printf("best %d after %ld positions\n", record, evaluations);
    return 0;
}
