// The distance-to-win table of four kings against a lone king: for every such position, the
// plies to the capture of the lone king with best play by both (the lone king delaying), as
// play without the 25 king moves' draw decides it (the search counts those itself). Made by
// make endgame (tools/endgame/) into kings.bin, which the stand-in reads at start from its
// working directory beside endgame.bin. Two halves of one byte a position: the four kings to
// move (white the four kings), then the lone king to move (white the lone king: the board
// turned round, the colours swapped, as endgame.h keeps black to move). Each half is indexed
// by endgame_index in its slice. A lone king with no move has lost: 0 plies.
#pragma once

#include <bit>
#include <cstdint>

#include "board/board.h"
#include "standin/endgame.h"

// Not won: the lone king escapes for ever, or gets to capture into a position that the kings
// left do not win within the rules' count for a lone king (16 moves a side against three
// pieces, 5 against fewer); and indices that name no position.
constexpr uint8_t kings_not_won = 255;
constexpr EndgameSlice kings_strong_slice{0, 4, 0, 1}, kings_lone_slice{0, 1, 0, 4};
constexpr uint64_t kings_half = 230300ull * 50; // (50 choose 4) * 50 positions a half

// The table: the file's, or one being made (tools/endgame); null when there is none (the
// search then never asks).
extern uint8_t* kings_table;

// True when the position is four kings against a lone king, either colour.
inline bool is_four_kings_against_one(const Position& p) {
    const uint64_t all = p.white | p.black;
    return all == p.kings && std::popcount(all) == 5 &&
           (std::popcount(p.white) == 1 || std::popcount(p.black) == 1);
}
// Where a four-kings-against-one position lies in the table (the side to move given).
uint64_t kings_entry(const Position& p, int white_to_move);
// The plies to the lone king's capture, or kings_not_won.
inline int probe_kings(const Position& p, int white_to_move) {
    return kings_table[kings_entry(p, white_to_move)];
}

// Reads the file (a table allocated once). True when it is absent or unusable, after printing
// one line; the stand-in then plays without it.
bool load_kings(const char* path);

// The file's first line; the two halves follow, then nothing.
constexpr char kings_magic[] = "kavro kings v1\n";
