// The stand-in's memory at the fixed addresses through which the server drives it. The server
// writes the setup board, the command text, the command flags and the player flags; the
// stand-in writes its game board, its analysis line and its score.
#pragma once

#include <cstddef>
#include <cstdint>

#include "board/board.h"

constexpr uint32_t map_setup_board = 0x43b116;        // 54 bytes, border bytes 3
constexpr uint32_t map_game_board = 0x457d01;         // 50 bytes, one per square
constexpr uint32_t map_command_text = 0x445340;       // text and its zero byte
constexpr uint32_t map_command_flag = 0x457dbc;       // raised after the text
constexpr uint32_t map_command_flag2 = 0x440d40;      // raised last: the command is complete
constexpr uint32_t map_player_plays_black = 0x440d70; // 1: a human plays black
constexpr uint32_t map_player_plays_white = 0x43b650; // 1: a human plays white
constexpr uint32_t map_analysis_from = 0x43a038;      // 24 origin square codes
constexpr uint32_t map_analysis_to = 0x45fcc0;        // 24 destination codes, 0x40 = capture
constexpr uint32_t map_score = 0x460c08;              // int16, for the stand-in's own side
constexpr int map_analysis_length = 24;
constexpr int map_end_of_line = 99;
constexpr int map_capture_bit = 0x40;
constexpr size_t map_setup_board_size = 54;
constexpr size_t map_command_size = 64; // the longest command text read, zero byte included
// The pages that cover every address above.
constexpr uint32_t map_begin = 0x43a000;
constexpr uint32_t map_end = 0x461000;

// Makes the region usable at exactly those addresses. True on failure, after printing why.
bool acquire_memory_map();

// The region is shared with a process that writes into it at any time: every access goes
// through these, never through a cached copy.
inline volatile int8_t* map_bytes(uint32_t address) {
    return reinterpret_cast<volatile int8_t*>(uintptr_t(address));
}
inline int8_t map_peek(uint32_t address) {
    return *map_bytes(address);
}
inline void map_poke(uint32_t address, int8_t value) {
    *map_bytes(address) = value;
}
void map_read(uint32_t address, void* data, size_t size);
void map_write(uint32_t address, const void* data, size_t size);

// Square codes: the setup board's index of a square plus 6.
constexpr int setup_index_of_square(int square) {
    return (square - 1) + (square - 1) / 10;
}
constexpr int square_code(int square) {
    return setup_index_of_square(square) + 6;
}
