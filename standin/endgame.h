// Endgame bitbases: win, draw or loss for the side to move in every position of a few pieces,
// kings and men, as play without the rules' move-count draws decides it (a repetition is a
// draw, a side that cannot move has lost). Made by make endgame (tools/endgame/) into one
// file, endgame.bin, that the stand-in reads at start from its working directory. A slice is
// one count of white men, white kings, black men and black kings; only positions with white
// to move are kept (black to move is the board turned round, the colours swapped).
#pragma once

#include <cstdint>

#include "board/board.h"

constexpr int endgame_max_pieces = 6; // what the index can address
enum EndgameValue : uint8_t {
    endgame_unknown = 0,
    endgame_win = 1,
    endgame_draw = 2,
    endgame_loss = 3,
};

struct EndgameSlice {
    int white_men, white_kings, black_men, black_kings;
};

// Pieces of the largest positions loaded; 0 when none (the search then never asks).
extern int endgame_pieces;

// Positions (indices) of a slice, white to move; some indices name no position (two pieces
// on one square) and hold a draw.
uint64_t endgame_slice_size(const EndgameSlice& slice);
// The index of a position with white to move within its slice.
uint64_t endgame_index(const Position& p, const EndgameSlice& slice);
// The position of an index; true when the index names none.
bool endgame_position(const EndgameSlice& slice, uint64_t index, Position& p);
// The slice of a position.
EndgameSlice endgame_slice_of(const Position& p);
// The position with the colours swapped and the board turned round: black to move becomes
// white to move.
Position endgame_turned(const Position& p);

// Where each slice of at most `pieces` pieces begins in the file's table of values (two bits
// a position), in the order the file keeps them; returns the positions of all of them.
uint64_t endgame_layout(int pieces);
uint64_t endgame_slice_offset(const EndgameSlice& slice);

// The table of values: the file's, or one being made (tools/endgame). Two bits a position.
extern uint8_t* endgame_table;
EndgameValue endgame_stored(uint64_t position_number);
void endgame_store(uint64_t position_number, EndgameValue value);

// Reads the file (a table allocated once). True when it is absent or unusable, after printing
// one line; the stand-in then plays without it.
bool load_endgame(const char* path);
// The value for the side to move of a position with at most endgame_pieces pieces, both
// sides with at least one piece.
EndgameValue probe_endgame(const Position& p, int white_to_move);

// The file's first line; the table follows, then nothing.
constexpr char endgame_magic[] = "kavro endgame bitbase v1, pieces ";
