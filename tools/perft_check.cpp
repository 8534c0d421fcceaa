// perft-check: the published perft figures to their full depths, one pass/fail line each.
// Exit status 0 when every figure matches, 1 otherwise.
#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "board/fen.h"
#include "board/movegen.h"

namespace {

struct Figures {
    const char* fen;
    int depths;
    uint64_t leaves[15];
};

const Figures figures[] = {
    {"W:W31-50:B1-20",
     11,
     {9, 81, 658, 4265, 27117, 167140, 1049442, 6483961, 41022423, 258895763, 1665861398}},
    {"W:B12,13,14,16,18,19,21,23,24,26:W25,27,28,30,32,33,34,35,37,38",
     15,
     {6, 12, 30, 73, 215, 590, 1944, 6269, 22369, 88050, 377436, 1910989, 9872645, 58360286,
      346184885}},
    {"W:WK31-50:BK1-20", 9, {17, 79, 352, 1399, 7062, 37589, 217575, 1333217, 8558321}},
};

} // namespace

int main() {
    fill_bit_count_table();
    build_ray_table();
    int failures = 0;
    for (const Figures& f : figures) {
        Position position;
        int white_to_move;
        char error[200];
        if (parse_fen(f.fen, position, white_to_move, error, sizeof error)) {
            printf("FAIL %s: %s\n", f.fen, error);
            failures++;
            continue;
        }
        for (int d = 1; d <= f.depths; d++) {
            const auto start = std::chrono::steady_clock::now();
            const uint64_t leaves = perft(position, white_to_move, d);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const bool pass = leaves == f.leaves[d - 1];
            if (!pass) failures++;
            printf("%s %s depth %d: %" PRIu64 " (expected %" PRIu64 ") %.3f s\n",
                   pass ? "pass" : "FAIL", f.fen, d, leaves, f.leaves[d - 1], seconds);
            fflush(stdout);
        }
    }
    printf("%s\n",
           failures == 0 ? "perft-check: all figures match" : "perft-check: some figures differ");
    return failures == 0 ? 0 : 1;
}
