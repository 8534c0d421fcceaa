// A game as the tools keep it: the start, every move with its squares and the position it
// leads to, the players and the result; the legal moves of a position with their squares;
// and the draw rules a match applies (threefold repetition, 25 king moves each).
#pragma once

#include <cstdint>

#include "board/movegen.h"

// One move: DXP square numbers, the captured pieces in the order they were taken.
struct GameMove {
    int8_t from;
    int8_t to;
    int8_t capture_count;
    int8_t captured[max_capture_pieces];
    Position after;
};

constexpr int max_game_plies = 1200;
constexpr int game_text_size = 64;

struct GameRecord {
    char event[game_text_size];
    char site[game_text_size];
    char date[16]; // "YYYY.MM.DD", "????.??.??" when unknown
    char round[16];
    char white[40];
    char black[40];
    char result[8]; // "2-0", "1-1", "0-2" or "*"
    bool custom_start;
    Position start;
    int start_white_to_move;
    int ply_count;
    GameMove moves[max_game_plies];
};

// Every legal move of one position with the capture paths. Half a megabyte: keep instances
// static, never on the stack.
struct LegalMoves {
    Position before;
    int white_to_move;
    int count;
    int taken; // pieces every listed move takes; 0 for quiet moves
    MoveList list;
    CapturePaths paths;
};

void list_legal_moves(const Position& position, int white_to_move, LegalMoves& legal);
void describe_move(const LegalMoves& legal, int index, GameMove& move);
// The captured squares of listed move index as one mask (0 for a quiet move).
uint64_t captured_mask(const LegalMoves& legal, int index);
// The first listed move with these squares and exactly this SET of captured squares (any
// order; a square named twice never matches), or -1.
int find_move(const LegalMoves& legal, int from, int to, const int* captured, int capture_count);
// True when another listed move with a different result has the same from and to squares,
// so that from and to alone do not name the move.
bool move_is_ambiguous(const LegalMoves& legal, int index);

// ---- the record ----------------------------------------------------------------------
constexpr Position standard_start_position = {0x00000000001FFBFFull, 0x003FF7FE00000000ull, 0};

// Clears the record (tags "?", result "*") and sets its start.
void start_game(GameRecord& game, const Position& start, int white_to_move, bool custom_start);
Position game_position(const GameRecord& game);
int game_white_to_move(const GameRecord& game);
// Appends a move; true (after printing why) when the record is full.
bool add_move(GameRecord& game, const GameMove& move);
// Copies text into a tag field, cut to fit.
void set_game_text(char* field, int size, const char* text);
template <int N> void set_game_text(char (&field)[N], const char* text) {
    set_game_text(field, N, text);
}

// ---- draw rules ----------------------------------------------------------------------
// The position after the last move (same side to move) has stood on the board three times.
bool is_threefold_repetition(const GameRecord& game);
// Moves at the end of the game, counted one per side, made by kings without capturing.
int kings_only_plies(const GameRecord& game);
constexpr int kings_only_draw_plies = 50; // 25 moves by each side

// ---- DXP position characters ---------------------------------------------------------
// 50 characters e, w, z, W, Z for squares 1 to 50 (not terminated).
void position_to_dxp_text(const Position& position, char* text);
// True when a character is none of the five.
bool position_from_dxp_text(const char* text, Position& position);
