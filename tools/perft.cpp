// perft FEN DEPTH: leaves of the legal move tree for each depth 1..DEPTH, with time and speed.
// perft --moves FEN: the legal moves of the side to move, in generation order.
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "board/fen.h"
#include "board/movegen.h"

namespace {

constexpr int max_depth = 30;

int usage() {
    printf("usage: perft FEN DEPTH | perft --moves FEN\n");
    return 2;
}

bool read_fen(const char* text, Position& position, int& white_to_move) {
    char error[200];
    if (parse_fen(text, position, white_to_move, error, sizeof error)) {
        printf("perft: bad FEN: %s\n", error);
        return true;
    }
    return false;
}

// A whole decimal number 1..max_depth and nothing else.
bool read_depth(const char* text, int& depth) {
    int value = 0, digits = 0;
    for (const char* c = text; *c != '\0'; c++) {
        if (*c < '0' || *c > '9' || ++digits > 2) {
            printf("perft: bad depth \"%.20s\": give a number from 1 to %d\n", text, max_depth);
            return true;
        }
        value = value * 10 + (*c - '0');
    }
    if (digits == 0 || value < 1 || value > max_depth) {
        printf("perft: bad depth \"%.20s\": give a number from 1 to %d\n", text, max_depth);
        return true;
    }
    depth = value;
    return false;
}

CapturePath paths[max_moves + 1];
MoveList list;

int print_moves(const Position& position, int white_to_move) {
    int n;
    const int count = generate_legal_moves(position, white_to_move, list, paths, n);
    for (int i = 0; i < count; i++) {
        const MoveSquares squares = move_squares(n, i, white_to_move, position, list, paths);
        const int from = square_of_mask(squares.from), to = square_of_mask(squares.to);
        if (n == 0) {
            printf("%d-%d\n", from, to);
            continue;
        }
        printf("%dx%d", from, to);
        for (int k = 0; k < n; k++)
            printf(" %d", square_of_mask(path_piece_taken(paths[i], k, white_to_move)));
        printf("\n");
    }
    if (list.truncated) printf("perft: more maximal captures than the list holds\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    fill_bit_count_table();
    build_ray_table();
    Position position;
    int white_to_move;
    if (argc == 3 && strcmp(argv[1], "--moves") == 0) {
        if (read_fen(argv[2], position, white_to_move)) return 2;
        return print_moves(position, white_to_move);
    }
    if (argc != 3) return usage();
    int depth;
    if (read_fen(argv[1], position, white_to_move) || read_depth(argv[2], depth)) return 2;
    for (int d = 1; d <= depth; d++) {
        const auto start = std::chrono::steady_clock::now();
        const uint64_t leaves = perft(position, white_to_move, d);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate = seconds > 0 ? static_cast<double>(leaves) / seconds : 0.0;
        printf("perft %d %" PRIu64 " %.3f s %.0f leaves/s\n", d, leaves, seconds, rate);
        fflush(stdout);
    }
    return 0;
}
