// The tables of kings against a lone king: where a position lies in them, and the file.
#include "standin/kings.h"

#include <cstdio>
#include <cstring>
#include <new>

uint8_t* kings_table = nullptr;

uint64_t kings_entry(const Position& p, int white_to_move) {
    // The side to move becomes white.
    const Position q = white_to_move ? p : endgame_turned(p);
    const int white = std::popcount(q.white), black = std::popcount(q.black);
    const int n = white > black ? white : black;
    return white == n
               ? kings_offset(n) + endgame_index(q, EndgameSlice{0, n, 0, 1})
               : kings_offset(n) + kings_half_of(n) + endgame_index(q, EndgameSlice{0, 1, 0, n});
}

bool load_kings(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) {
        printf("No table of kings against a lone king (%s): playing without it.\n", path);
        return true;
    }
    char line[32] = {};
    const bool header = fgets(line, sizeof line, file) && strcmp(line, kings_magic) == 0;
    uint8_t* table = header ? new (std::nothrow) uint8_t[kings_table_size] : nullptr;
    const bool failed =
        !table || fread(table, 1, kings_table_size, file) != kings_table_size || fgetc(file) != EOF;
    fclose(file);
    if (failed) {
        printf("The table of kings against a lone king (%s) is not usable: playing without it.\n",
               path);
        delete[] table;
        return true;
    }
    delete[] kings_table; // a table read or made before
    kings_table = table;
    return false;
}
