// The stand-in engine program: its game, the commands the server types, and its own play.
// Everything the server sees goes through the shared region of memory_map.h.
#pragma once

#include <cstddef>

#include "board/board.h"
#include "standin/search.h"

constexpr int standin_max_history = 512;

struct StandinGame {
    Position position;
    int white_to_move;
    // The positions before the current one since the last move that cannot be undone,
    // oldest first: the search counts a return to one of them as a draw.
    Position history[standin_max_history];
    int history_count;
    bool no_legal_move; // the side to move cannot move: nothing more happens in this game
};

extern StandinGame standin_game;

// The state at launch: the standard start on the board, white to move, moves for neither
// side, no analysis, score 0.
void start_standin();
// Takes a complete command (second flag raised) and lowers both flags. False when there is none.
bool take_command(char* text, size_t size);
void carry_out_command(const char* text);
// "%d-%d" or "%d-%d-%d" with squares 1-50 and nothing else. True when the text is no move.
bool parse_move_text(const char* text, int& from, int& via, int& to);
// True when the stand-in plays the side to move and that side has a move.
bool standin_to_move();
// Thinks and plays one move, unless a command or a change of the player flags comes first.
void think_and_play();
// Writes a principal variation from a root position into the analysis arrays, and the score.
void write_analysis(const Position& root, int white_to_move, const SearchLine& line, int score);
// The whole life of the program: watch, obey, think; ends when its launcher has gone.
int run_standin();
