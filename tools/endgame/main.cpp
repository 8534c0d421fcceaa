// endgame: make endgame. Works out the bitbases of at most PIECES pieces and writes them; with
// --kings, the tables of two to four kings against one too, into its own file.
//
//   endgame [--pieces N] [--out FILE] [--kings FILE]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tools/endgame/endgame.h"

int main(int argc, char** argv) {
    setup_line_output();
    int pieces = 4;
    const char* out = "endgame.bin";
    const char* kings = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--pieces") == 0)
            pieces = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
        else if (strcmp(argv[i], "--kings") == 0)
            kings = argv[i + 1];
        else {
            printf("usage: endgame [--pieces N] [--out FILE] [--kings FILE]\n");
            return 2;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    if (generate_endgame(pieces, true) || write_endgame(out, pieces)) return 1;
    printf("endgame: %d pieces, %llu positions, %llu bytes in %s, %.0f s\n", pieces,
           static_cast<unsigned long long>(endgame_layout(pieces)),
           static_cast<unsigned long long>((endgame_layout(pieces) + 3) / 4), out,
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (kings) {
        const auto kings_start = std::chrono::steady_clock::now();
        if (generate_kings(true) || write_kings(kings)) return 1;
        printf(
            "endgame: kings against one, %llu bytes in %s, %.0f s\n",
            static_cast<unsigned long long>(kings_table_size + sizeof kings_magic - 1), kings,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - kings_start).count());
    }
    return 0;
}
