// The table of four kings against a lone king: where a position lies in it, and the file.
#include "standin/kings.h"

#include <cstdio>
#include <cstring>
#include <new>

uint8_t* kings_table = nullptr;

uint64_t kings_entry(const Position& p, int white_to_move) {
    // The side to move becomes white.
    const Position q = white_to_move ? p : endgame_turned(p);
    return std::popcount(q.white) == 4 ? endgame_index(q, kings_strong_slice)
                                       : kings_half + endgame_index(q, kings_lone_slice);
}

bool load_kings(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) {
        printf("No table of four kings against one (%s): playing without it.\n", path);
        return true;
    }
    char line[32] = {};
    const bool header = fgets(line, sizeof line, file) && strcmp(line, kings_magic) == 0;
    uint8_t* table = header ? new (std::nothrow) uint8_t[2 * kings_half] : nullptr;
    const bool failed =
        !table || fread(table, 1, 2 * kings_half, file) != 2 * kings_half || fgetc(file) != EOF;
    fclose(file);
    if (failed) {
        printf("The table of four kings against one (%s) is not usable: playing without it.\n",
               path);
        delete[] table;
        return true;
    }
    delete[] kings_table; // a table read or made before
    kings_table = table;
    return false;
}
