// Game control: options, the game state, the dispatcher of DXP events and the translation
// of moves between Kavro's board and DXP.
#pragma once

#include <cstdint>

#include "board/board.h"
#include "board/movegen.h"
#include "dxp/dxp.h"

struct Options {
    bool send_pv;          // "-pv": Kavro's last analysis line follows each of its moves
    bool send_pv_all;      // "-pvall": every analysis line goes out while Kavro thinks
    bool adjudicate;       // "-a": the server declares decided games
    bool skip_engine_test; // "-t": no start-up test of Kavro
    bool keep;             // "-keep": serve one client after another with the same Kavro
};
extern Options options;

// The game state besides current_board (which lives with the board conversions).
struct GameState {
    ByteBoard previous_board; // before a received move is handed to Kavro; the reset board
    int32_t kavro_colour;     // 'W' when Kavro plays white; anything else counts as black
    bool game_end_declared;   // the server has sent GAMEEND for this game
};
extern GameState game;

// Handles the arguments: the options, anything else a directory to enter. "-port N" sets
// dxp_port; a bad or missing number, or a directory that cannot be entered, stops the server
// with one line. True when the program
// is to end at once with status 0 ("-version" has printed the version).
bool handle_arguments(int argc, char** argv);
ByteBoard& set_standard_start(ByteBoard& board);
bool differs_from_standard_start(const ByteBoard& board);

// ---- the dispatcher --------------------------------------------------------------------
// One event of the queue: takes its message out of the ring and acts on it. Every fatal
// condition prints its line and ends in fatal_stop().
void dispatch_dxp_event(int type_code);
// 0 when fewer than 6 pieces are on the board, otherwise 3.
int piece_count_test(const Position& position);

// ---- move translation ----------------------------------------------------------------
// The one work area of the generators on the game path (the paths are about half a
// megabyte, so they never go on the stack). Main thread only.
struct MoveWork {
    MoveList list;
    CapturePaths paths;
    int n; // pieces taken by every listed move; 0 for quiet moves
};
extern MoveWork move_work;
// Lists the legal moves of one side of current_board into move_work; returns the count.
int list_legal_moves(int white_to_move);

// Finds Kavro's move from its board, sends it as MOVE (and the analysis line as CHAT when
// send_pv is set); current_board becomes Kavro's board.
void send_kavro_move(bool send_pv);
// Fills command (at least 9 bytes) and sets current_board to the position after the move.
void translate_received_move(const DxpMessage& message, char* command);
bool path_matches_received_captures(int white_to_move, const CapturePath& path,
                                    const DxpMessage& message);

// ---- start-up ------------------------------------------------------------------------
// The event queue exists: prints "Window created." and starts the connect thread.
void on_event_queue_created();
// With -keep, once everything of the last client is reset: the connect thread listens again.
void listen_for_next_client();
