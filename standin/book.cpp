// The opening book: its lines turned into sorted entries at start, then looked up by halving.
#include "standin/book.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <tuple>

#include "board/fen.h"
#include "board/movegen.h"

BookEntry* book_entries = nullptr;
int book_count = 0;

namespace {

MoveList typed_moves;
CapturePaths typed_paths;

auto order_key(const Position& p, int white_to_move) {
    return std::make_tuple(p.white, p.black, p.kings, white_to_move);
}

bool before(const BookEntry& a, const BookEntry& b) {
    return order_key(a.position, a.white_to_move) < order_key(b.position, b.white_to_move);
}

// "32-28" or "23x32": the squares of a move. True when the text is neither.
bool read_move(const char* text, int& from, int& to) {
    char separator = 0, rest = 0;
    return sscanf(text, "%d%c%d%c", &from, &separator, &to, &rest) != 3 ||
           (separator != '-' && separator != 'x') || from < 1 || from > 50 || to < 1 || to > 50;
}

} // namespace

bool load_book(const char* path) {
    FILE* file = fopen(path, "r");
    if (!file) {
        printf("No opening book (%s): playing without it.\n", path);
        return true;
    }
    char line[512];
    int lines = 0;
    while (fgets(line, sizeof line, file)) ++lines;
    delete[] book_entries;
    book_entries = new (std::nothrow) BookEntry[size_t(lines > 0 ? lines : 1)];
    book_count = 0;
    if (!book_entries) {
        printf("The opening book (%s) does not fit in memory: playing without it.\n", path);
        fclose(file);
        return true;
    }
    rewind(file);
    for (int number = 1; fgets(line, sizeof line, file) && book_count < lines; ++number) {
        if (char* comment = strchr(line, '#')) *comment = '\0';
        char fen[200], move[32];
        int score = 0, from = 0, to = 0;
        const int fields = sscanf(line, "%199s %31s %d", fen, move, &score);
        if (fields <= 0) continue; // blank or comment
        BookEntry& e = book_entries[book_count];
        char error[128];
        if (fields != 3 || parse_fen(fen, e.position, e.white_to_move, error, sizeof error) ||
            read_move(move, from, to) ||
            find_typed_move(e.position, e.white_to_move, from, 0, to, e.after)) {
            printf("%s line %d: not a position, a legal move and a score\n", path, number);
            continue;
        }
        e.score = score;
        ++book_count;
    }
    fclose(file);
    std::sort(book_entries, book_entries + book_count, before);
    return false;
}

bool find_typed_move(const Position& p, int white_to_move, int from, int via, int to,
                     Position& after) {
    int n = 0;
    const int count = generate_legal_moves(p, white_to_move, typed_moves, typed_paths, n);
    for (int i = 0; i < count; ++i) {
        const MoveSquares squares = move_squares(n, i, white_to_move, p, typed_moves, typed_paths);
        if (!squares.from || !squares.to) continue;
        if (square_of_mask(squares.from) != from || square_of_mask(squares.to) != to) continue;
        if (via &&
            (n == 0 || !path_takes_piece(n, white_to_move, square_mask[via - 1], typed_paths, i)))
            continue;
        after = typed_moves.entries[i];
        return false;
    }
    return true;
}

bool book_move(const Position& position, int white_to_move, Position& after, int& score) {
    BookEntry key{};
    key.position = position;
    key.white_to_move = white_to_move ? 1 : 0;
    const BookEntry* found = std::lower_bound(book_entries, book_entries + book_count, key, before);
    if (found == book_entries + book_count || before(key, *found)) return false;
    after = found->after;
    score = found->score;
    return true;
}
