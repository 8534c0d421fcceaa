// Shared helpers of the board tests: positions from FEN, moves as text, and a plain
// reference generator on rows and columns to check the bitboard one against.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "board/fen.h"
#include "board/movegen.h"

// The position of a FEN; the test fails when it does not parse.
Position fen_position(const char* text, int* white_to_move = nullptr);
uint64_t squares(std::initializer_list<int> numbers);
// Square numbers of a mask, ascending, separated by spaces.
std::string square_list(uint64_t mask);

// The legal moves of the side to move in list order, as the perft tool writes them:
// "32-28" or "13x25 18 32 30".
std::vector<std::string> move_texts(const Position& position, int white_to_move);

// Every legal move by a slow, separate method: the resulting positions as a set, and the
// number of pieces the captures take (0 for quiet moves).
struct ReferenceMoves {
    std::set<std::vector<uint64_t>> results;
    int taken;
};
ReferenceMoves reference_moves(const Position& position, int white_to_move);
std::vector<uint64_t> key_of(const Position& p);

// One buffer set for the tests (they run on one thread).
extern MoveList test_list;
extern CapturePath test_paths[max_moves + 1];

// Empty when capture i of the list agrees with its path, else what is wrong: the count, the
// first position, one opponent piece taken per legal jump, the mover alone moving, and the
// entry equal to the last step plus promotion.
std::string path_fault(const Position& before, int white_to_move, const MoveList& list,
                       const CapturePath* paths, int i, int n);

// Asserts that the legal moves of a position (count, n pieces taken) are exactly the
// reference's, in a list not cut short, each capture agreeing with its path, the capture test
// agreeing, and the list built without paths the same.
void check_moves(const Position& p, int side, int& count, int& n);
