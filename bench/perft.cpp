// bench-perft: perft of the standard start to depth 10 on one thread, the last ply counted
// from the list length; prints the leaves per second.
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "board/fen.h"
#include "board/movegen.h"

int main() {
    fill_bit_count_table();
    build_ray_table();
    Position start;
    int white_to_move;
    char error[200];
    if (parse_fen("W:W31-50:B1-20", start, white_to_move, error, sizeof error)) {
        printf("bench-perft: %s\n", error);
        return 1;
    }
    const int depth = 10;
    const uint64_t expected = 258895763;
    const auto begin = std::chrono::steady_clock::now();
    const uint64_t leaves = perft(start, white_to_move, depth);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    printf("bench-perft: start position depth %d: %" PRIu64 " leaves in %.3f s, %.1f million "
           "leaves/s%s\n",
           depth, leaves, seconds, static_cast<double>(leaves) / seconds / 1e6,
           leaves == expected ? "" : " (WRONG COUNT)");
    return leaves == expected ? 0 : 1;
}
