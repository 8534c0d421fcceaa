// PDN FEN, the position form draughts programs exchange: "W:W31-50:B1-20",
// "B:W18,K45:B12,K3." Side to move, then the white and black piece lists in either order,
// with ranges and K before a king's square.
#pragma once

#include <cstddef>

#include "board/board.h"

// Reads a FEN. Returns true on failure after writing the reason (one line, no newline)
// into error.
bool parse_fen(const char* text, Position& position, int& white_to_move, char* error,
               size_t error_size);
// Room for the longest FEN format_fen writes: 50 kings, commas, the two lists and the zero.
constexpr size_t fen_buffer_size = 200;

// Writes the FEN of a position, squares ascending, no ranges, ending in '.'. A smaller buffer
// gets a cut but terminated text.
void format_fen(const Position& position, int white_to_move, char* out, size_t out_size);
