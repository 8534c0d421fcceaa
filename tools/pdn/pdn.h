// PDN, the text form in which draughts programs exchange games: tags in brackets, then the
// numbered moves and the result.
//
// Moves are written short, "32-28" or "23x32", unless another legal move has the same from
// and to squares; such a capture is written in full with every captured square in the order
// taken: "13x18x32x30x25" (from 13, takes 18, 32 and 30, ends on 25). The reader takes that
// form with the captured squares in any order, and also the other usual full form, the
// squares where the piece lands along the way ("46x28x12").
#pragma once

#include <cstddef>
#include <cstdio>

#include "tools/pdn/game.h"

// Writes move index of the list in the notation above. out needs at most 80 bytes.
void format_move(const LegalMoves& legal, int index, char* out, size_t out_size);
// Finds the listed move that a move text names. Returns its index, or -1 after writing the
// reason into error.
int parse_move(const char* text, const LegalMoves& legal, char* error, size_t error_size);

// Appends one game and flushes. The moves are replayed from the start, so a record whose
// moves do not follow from each other is refused. True on failure, after printing why.
bool write_pdn_game(FILE* file, const GameRecord& game);

// Reading games from a whole PDN text.
struct PdnReader {
    const char* text;
    size_t size;
    size_t offset;
    int line;
};
void start_pdn_reader(PdnReader& reader, const char* text, size_t size);
enum PdnReadResult { pdn_game = 0, pdn_end = 1, pdn_error = -1 };
// Reads the next game, checking every move against the legal moves. On pdn_error, error
// holds the reason with its line number.
PdnReadResult read_pdn_game(PdnReader& reader, GameRecord& game, char* error, size_t error_size);
