// Legal move generation under the international rules: captures (compulsory, majority rule,
// flying kings) with the position after every jump, quiet moves, and the capture test.
// A move is represented by the position it produces. Generation order is part of the
// contract: callers take the first match in list order.
#pragma once

#include "board/board.h"

// Bound of a move list. Quiet moves: a target square is reached by at most four pieces (the
// nearest piece along each of its four diagonals), so a position has at most 4 * 49 = 196;
// the most a search found is 128 (kings on the 18 edge squares). Maximal captures: no small
// bound is proven; the most a search found is 407 (movegen.cpp), well inside max_moves, and
// a full list drops captures and says so (`truncated`) instead of writing past its end.
// BOARD_MAX_MOVES exists only so that a test can build the generator with a tiny list.
#ifndef BOARD_MAX_MOVES
#define BOARD_MAX_MOVES 1024
#endif
constexpr int max_moves = BOARD_MAX_MOVES;
// A side has at most 20 pieces, so no capture takes more (a man at most 16: it stays on one
// set of landing squares, around which only 16 squares can be jumped).
constexpr int max_capture_pieces = 20;

struct MoveList {
    int32_t count;
    bool truncated; // a capture was dropped because the list was full (never seen)
    Position entries[max_moves];
};

// Per capture in a MoveList, at the same index: steps[0] is the position before the move,
// steps[k] the position after the k-th jump (captured pieces removed, no promotion).
struct CapturePath {
    int8_t count;
    Position steps[max_capture_pieces + 1];
};

// A caller's path table holds one record more than the list: the working path of a search
// is the record after the last stored capture.
using CapturePaths = CapturePath[max_moves + 1];

int generate_quiet_moves(const Position& position, int white_to_move, MoveList& list);
// capture_paths may be null when only the resulting positions are wanted (perft, search).
int generate_captures(const Position& position, int white_to_move, MoveList& list,
                      CapturePath* capture_paths);
// Captures, or quiet moves when there is none. Returns the count; n receives the number of
// pieces every listed move takes (0 for quiet moves).
int generate_legal_moves(const Position& position, int white_to_move, MoveList& list,
                         CapturePath* capture_paths, int& n);

// Leaves of the legal move tree to depth (1 at depth 0); the last ply is counted from the
// list length. Each capture counts once, as the capture generator lists it.
uint64_t perft(const Position& position, int white_to_move, int depth);

int side_has_capture(const Position& position, int white_to_move);
int ray_has_capture(int32_t length, const uint64_t* ray, uint64_t empty, uint64_t opp);

// The squares of listed move i (n pieces taken, 0 for a quiet move), as masks.
struct MoveSquares {
    uint64_t from;
    uint64_t to;
};
MoveSquares move_squares(int n, int i, int white_to_move, const Position& before,
                         const MoveList& list, const CapturePath* capture_paths);
// The piece taken by jump k + 1 of a path.
uint64_t path_piece_taken(const CapturePath& path, int k, int white_to_move);
// True when one of the first n jumps of path j takes exactly that piece.
bool path_takes_piece(int n, int white_to_move, uint64_t piece, const CapturePath* capture_paths,
                      int j);
