// make strength and make tune: games of the stand-in's search against the search of a baseline
// commit (STRENGTH_BASELINE) or against itself, the openings they start from, and the tuner of the
// evaluation.
#pragma once

#include <cstdint>

#include "tools/pdn/game.h"

// A player: the move it chooses in the position after the game's last move, within limit
// (milliseconds, or nodes for the tuner's self-play), among the moves of legal.
using Player = int (*)(const GameRecord& game, const LegalMoves& legal, int limit);

// The search of the baseline commit, its names kept apart (baseline.cpp), with its bitbases
// from the folder of the program when it has them. True on failure.
bool baseline_init(const char* program);
int baseline_player(const GameRecord& game, const LegalMoves& legal, int movetime_ms);
int current_player(const GameRecord& game, const LegalMoves& legal, int movetime_ms);
int current_player_nodes(const GameRecord& game, const LegalMoves& legal, int nodes);

// The game before the position to move from, oldest first, as the search takes it.
int game_history(const GameRecord& game, Position* history);
// Plays game from its start to its end by the rules (150 moves a side at most). Returns
// white's points times two: 2 won, 1 drawn, 0 lost.
int play_game(GameRecord& game, Player white, Player black, int limit);
extern const char* game_end; // how the last game played ended, in words

// The value given after name among the program's options (argv[2] on), or otherwise.
const char* option(int argc, char** argv, const char* name, const char* otherwise);
// The random numbers from the option --seed (1 by default): an odd seed gives the stream it
// always gave, an even one a stream of its own (not its odd neighbour's).
void seed_random(int argc, char** argv);
// The index of the legal move that leads to after; -1 when none does.
int move_index(const LegalMoves& legal, const Position& after);
// The file name beside the program (its argv[0]), in out.
void path_beside(const char* program, const char* name, char* out, int size);
// The current engine's book, bitbases and tables of kings against one, from the folder of
// the program (its argv[0]).
void load_data_beside(const char* program);
int run_selfplay(int argc, char** argv);
int run_fit(int argc, char** argv);

// A move's time for either search: no new iteration past half of it, as in the stand-in.
struct MoveClock {
    int64_t start;  // clock_ms() when the search began
    int64_t budget; // milliseconds
};
bool out_of_time(void* context, bool between_iterations); // context: a MoveClock
