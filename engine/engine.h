// The engine bridge: everything that touches Kavro's memory. Kavro is driven only through
// fixed addresses in its process: its boards, player flags, typed commands, analysis, score.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "board/board.h"
#include "platform/platform.h"

// ---- Kavro's memory map --------------------------------------------------------------
constexpr uint32_t kavro_setup_board = 0x43b116;   // 54 bytes, an EngineBoard; "n" starts from it
constexpr uint32_t kavro_game_board = 0x457d01;    // 50 bytes, ByteBoard layout
constexpr uint32_t kavro_command_text = 0x445340;  // text and its zero byte
constexpr uint32_t kavro_command_flag = 0x457dbc;  // 1 after the text
constexpr uint32_t kavro_command_flag2 = 0x440d40; // 1, last
constexpr uint32_t kavro_player_plays_black = 0x440d70;
constexpr uint32_t kavro_player_plays_white = 0x43b650;
constexpr uint32_t kavro_analysis_from = 0x43a038; // 24 origin square codes; 99 ends the line
constexpr uint32_t kavro_analysis_to = 0x45fcc0;   // 24 destination codes; 0x40 marks a capture
constexpr uint32_t kavro_score = 0x460c08;         // int16, hundredths of a man, Kavro's side
constexpr int kavro_analysis_length = 24;
constexpr int kavro_end_of_line = 99;
// The pages that cover the whole map.
constexpr uint32_t kavro_map_begin = 0x43a000;
constexpr uint32_t kavro_map_end = 0x461000;

// 54 bytes: square s at (s - 1) + (s - 1) / 10; indexes 10, 21, 32, 43 hold 3.
using EngineBoard = std::array<int8_t, 54>;
EngineBoard engine_board_of(const ByteBoard& board);
// Square codes are EngineBoard indexes plus 6; 0 for a code that is no square.
int square_of_code(int code);
int code_of_square(int square);

// ---- process and failure lines -------------------------------------------------------
extern EngineProcess* kavro_process;
// Prints "%s; %s\n": the failed call's name and the system's text for the error.
void report_last_error(const char* call_name);
bool launch_kavro(); // true on failure, after the failure line
// The server stops before it has served anyone (Kavro failed its start-up test, say): the
// Kavro it launched is ended, with a line that says so, so that no unused Kavro is left
// running beside the next one started. Then the stop.
[[noreturn]] void give_up_on_kavro();
// Reads Kavro's game board; on failure prints the failure line and returns true.
bool read_kavro_board(ByteBoard& board);
// Reads Kavro's current score; on failure prints the failure line and returns true.
bool read_kavro_score(int16_t& score);
// Reads any bytes of Kavro's memory; on failure prints the failure line and returns true.
bool read_kavro_memory(uint32_t address, void* data, size_t size);
// Writes the byte 1 at address (a player flag); on failure prints the failure line
// ("WriteProcessMemory") and returns true.
bool set_kavro_flag(uint32_t address);

// ---- operations (each true on failure, after the failure line) ----------------------
// Prints "Kavro command: ..." and writes the text, then both command flags; never waits.
bool type_kavro_command(const char* text);
// Writes the board's EngineBoard into Kavro's setup board.
bool write_setup_board(const ByteBoard& board);
// current_board as the start of a new game: setup board, "n", then 500 ms for Kavro.
bool load_current_board();
// Proves that Kavro answers to this map and obeys typed moves; leaves it at a new game with
// both player flags at 1, so that it moves for neither side. A Kavro that does not show the
// start board yet is given about 15 s to show it.
bool test_kavro_at_start();

// ---- observation ---------------------------------------------------------------------
using AnalysisCallback = void (*)(const char* line);
extern char last_analysis_text[200];
extern int32_t last_analysis_score;
// Prints and hands on Kavro's analysis line when it differs from the last one seen.
bool read_kavro_analysis(AnalysisCallback callback);
// Called at every poll of the board wait; true ends the wait at once (the client has gone and
// the game is abandoned, say). It may also end the process.
using WaitWatch = bool (*)();
// False when Kavro's board differs from the reference, true when the time limit (ms, 0 for
// none) passed first or the watch ended the wait. Ends the process when Kavro cannot be read.
// watch (or null) runs at every poll, every 100 ms.
bool waitfor_kavro_board_change(const ByteBoard& reference, int32_t colour, int32_t time_limit,
                                AnalysisCallback callback, WaitWatch watch);
// "W:W31,32,K45:B20.\n" into text (at least 200 bytes).
void position_text(const ByteBoard& board, int32_t colour, char* text);

// ---- adjudication --------------------------------------------------------------------
enum AdjudicationResult {
    result_draw = 0,
    result_kavro_won = 1,
    result_kavro_lost = 2,
    result_undecided = 3
};
extern int32_t draw_count;
int adjudicate_position(const Position& position, bool kavro_plays_white, int32_t score);
