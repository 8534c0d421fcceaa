// The stand-in's player: iterative deepening principal-variation search with a transposition
// table, captures searched to quiet positions, and an evaluation in hundredths of a man.
// Legal moves come from the project's generator; a move is the position it produces.
// No process, no platform: the program, the tests, the bench and the tools share it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/board.h"
#include "board/movegen.h"

constexpr int search_max_ply = 128;
constexpr int search_max_line = 64; // longest principal variation kept
constexpr int score_win = 30000;    // the side to move has won; less one per ply to the win
constexpr int score_won_threshold = score_win - 1000;
constexpr int score_known_win = 20000; // the bitbases say won, less one per ply (endgame.h)

// A line of play: the position after each move, from the root on.
struct SearchLine {
    int length;
    Position after[search_max_line];
};

struct SearchReport {
    int depth;       // the deepest completed iteration (0 when none completed)
    int score;       // for the side to move at the root, hundredths of a man
    uint64_t nodes;  // over the whole search so far
    bool has_move;   // false when the side to move has no legal move
    Position best;   // the position after the chosen move
    SearchLine line; // the principal variation, line.after[0] == best
};

struct SearchLimits {
    int max_depth = 64;
    uint64_t max_nodes = 0; // 0 for none
    // Asked every few thousand nodes (between_iterations false) and before each new iteration
    // (true); returning true ends the search. May be null.
    bool (*should_stop)(void* context, bool between_iterations) = nullptr;
    void* context = nullptr;
    // Called after each completed iteration. May be null.
    void (*on_iteration)(const SearchReport& report, void* context) = nullptr;
};

// Allocates the transposition table (once, at start) and fills the board tables the
// generator reads. True on failure, after printing why.
bool search_init(int table_megabytes);
// Forgets what earlier searches learnt (a new game).
void search_clear();

// Searches the root position for the side to move. history holds the positions of the game
// before the root, oldest first (the last one had the other side to move); repeating one of
// them counts as a draw. The chosen move is always one the generator lists for the root.
SearchReport search_position(const Position& root, int white_to_move, const SearchLimits& limits,
                             const Position* history = nullptr, int history_count = 0);

// Static evaluation for the side to move, hundredths of a man.
int evaluate(const Position& position, int white_to_move);

// The legal moves of a position: captures when there are any, otherwise quiet moves.
int legal_moves(const Position& position, int white_to_move, MoveList& list);
// True when a move (from -> to) cannot be undone by the rules: a capture or a man's step.
bool move_is_irreversible(const Position& before, const Position& after, int white_to_move);
