// endgame: make endgame. Works out the bitbases of at most PIECES pieces and writes them.
//
//   endgame [--pieces N] [--out FILE]
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
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--pieces") == 0)
            pieces = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
        else {
            printf("usage: endgame [--pieces N] [--out FILE]\n");
            return 2;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    if (generate_endgame(pieces, true) || write_endgame(out, pieces)) return 1;
    printf("endgame: %d pieces, %llu positions, %llu bytes in %s, %.0f s\n", pieces,
           static_cast<unsigned long long>(endgame_layout(pieces)),
           static_cast<unsigned long long>((endgame_layout(pieces) + 3) / 4), out,
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
