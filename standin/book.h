// The opening book: for positions of the first moves, the move a deep search of our own chose
// (make book, tools/book/), read at start from book.txt in the working directory. A line is
// a position (PDN FEN), its move ("32-28" or "23x32") and the search's score for the side to
// move; '#' starts a comment.
#pragma once

#include "board/board.h"

struct BookEntry {
    Position position;
    int white_to_move;
    Position after; // the position the move leads to
    int score;
};

// The entries, sorted for lookup; allocated once, when the book is read.
extern BookEntry* book_entries;
extern int book_count;

// Reads the book. True when it is absent or unusable, after printing one line; the stand-in
// then plays without it. A line naming no legal move is reported and skipped.
bool load_book(const char* path);
// The first legal move, in generation order, from one square to the other (1 to 50) that also
// takes the piece on via (0: any), as the server types moves: a book line's move and a typed
// command name moves alike. True when none fits.
bool find_typed_move(const Position& p, int white_to_move, int from, int via, int to,
                     Position& after);
// The book's move for a position: true, with the position it leads to and its score.
bool book_move(const Position& position, int white_to_move, Position& after, int& score);
