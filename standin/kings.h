// The distance-to-win tables of two, three and four kings against a lone king: for every such
// position, the plies to the capture of the lone king with best play by both (the lone king
// delaying), as play without the rules' counts decides it (the search counts those itself).
// Made by make endgame (tools/endgame/) into kings.bin, which the stand-in reads at start from
// its working directory beside endgame.bin. For each count of kings, four first, two halves
// of one byte a position: the kings to move (white the kings), then the lone king to move
// (white the lone king: the board turned round, the colours swapped, as endgame.h keeps black
// to move). Each half is indexed by endgame_index in its slice. A lone king with no move has
// lost: 0 plies.
#pragma once

#include <bit>
#include <cstdint>

#include "board/board.h"
#include "standin/endgame.h"

// Not won: the lone king escapes for ever, or gets to capture into a position that the kings
// left do not win within the rules' count for a lone king (16 moves a side against three
// pieces, 5 against fewer); and indices that name no position.
constexpr uint8_t kings_not_won = 255;
// Positions a half for n kings against one: (50 choose n) * 50.
constexpr uint64_t kings_half_of(int n) {
    return (n == 4 ? 230300ull : n == 3 ? 19600ull : 1225ull) * 50;
}
constexpr uint64_t kings_half = kings_half_of(4);
// Where the halves of n kings against one begin in the table: four, then three, then two.
constexpr uint64_t kings_offset(int n) {
    return n == 4 ? 0 : n == 3 ? 2 * kings_half_of(4) : 2 * (kings_half_of(4) + kings_half_of(3));
}
constexpr uint64_t kings_table_size = 2 * (kings_half_of(4) + kings_half_of(3) + kings_half_of(2));

// The table: the file's, or one being made (tools/endgame); null when there is none (the
// search then never asks).
extern uint8_t* kings_table;

// The kings of a position of two to four kings against a lone king, either colour; 0 for any
// other position.
inline int kings_against_one(const Position& p) {
    if ((p.white | p.black) != p.kings) return 0;
    const int white = std::popcount(p.white), black = std::popcount(p.black);
    if (white == 1 && black >= 2 && black <= 4) return black;
    if (black == 1 && white >= 2 && white <= 4) return white;
    return 0;
}
// The rules' draw against a lone king: with three pieces against it, a king among them, 16
// moves a side; with two, a king among them, 5 moves a side; counted from the first position
// of that stage (a crowning inside it does not start it again). The plies allowed in the
// position's stage, 0 when it is in none.
inline int lone_king_plies(const Position& p) {
    const int white = std::popcount(p.white), black = std::popcount(p.black);
    const bool white_king = (p.white & p.kings) != 0, black_king = (p.black & p.kings) != 0;
    const bool white_alone = white == 1 && white_king, black_alone = black == 1 && black_king;
    if (!white_alone && !black_alone) return 0;
    const int other = white_alone ? black : white;
    const bool other_king = white_alone ? black_king : black_king;
    if (!other_king || other > 3) return 0;
    return other == 3 ? 32 : 10;
}
// Whether the stage of a lone king goes on from one position to the next: both in one, with
// as many pieces.
inline bool same_lone_king_stage(const Position& before, const Position& after) {
    return lone_king_plies(after) && lone_king_plies(before) &&
           std::popcount(before.white | before.black) == std::popcount(after.white | after.black);
}
// Where a position of kings against one lies in the table (the side to move given).
uint64_t kings_entry(const Position& p, int white_to_move);
// The plies to the lone king's capture, or kings_not_won.
inline int probe_kings(const Position& p, int white_to_move) {
    return kings_table[kings_entry(p, white_to_move)];
}

// Reads the file (a table allocated once). True when it is absent or unusable, after printing
// one line; the stand-in then plays without it.
bool load_kings(const char* path);

// The file's first line; the two halves follow, then nothing.
constexpr char kings_magic[] = "kavro kings v2\n";
