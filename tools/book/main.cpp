// book: make book. The opening book of the stand-in (standin/book.txt), by our own search from
// the start position. Every move of a book position is searched to a fixed number of nodes
// from the position it leads to; the best becomes the book's move. The positions after the
// moves within a margin of the best (after every move in the first plies) join the book in
// turn, shallowest first, until the book is full or the plies run out. Fixed nodes and a
// cleared table before each search: the same program makes the same book.
//
//   book [--nodes N] [--plies P] [--full-plies F] [--margin M] [--positions N] [--out FILE]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/fen.h"
#include "board/movegen.h"
#include "platform/platform.h"
#include "standin/search.h"

namespace {

constexpr int most_positions = 20000;

struct Pending {
    Position position;
    int white_to_move;
    int ply;
};
Pending queue[most_positions];
MoveList lists[2];

const char* option(int argc, char** argv, const char* name, const char* otherwise) {
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], name) == 0) return argv[i + 1];
    return otherwise;
}

bool seen_before(int count, const Position& p, int white_to_move) {
    for (int i = 0; i < count; ++i)
        if (queue[i].position == p && queue[i].white_to_move == white_to_move) return true;
    return false;
}

// "32-28" or "23x32".
void move_text(const Position& before, const Position& after, int white_to_move, char* out,
               size_t size) {
    const uint64_t own = white_to_move ? before.white : before.black;
    const uint64_t moved = white_to_move ? after.white : after.black;
    const bool capture =
        (white_to_move ? before.black != after.black : before.white != after.white);
    snprintf(out, size, "%d%c%d", square_of_mask(own & ~moved), capture ? 'x' : '-',
             square_of_mask(moved & ~own));
}

// The server names a move by its two squares and the stand-in plays the first legal move
// that fits: a book move must be that first one.
bool first_of_its_squares(const Position& before, int white_to_move, const MoveList& list,
                          int chosen) {
    const uint64_t own = white_to_move ? before.white : before.black;
    const uint64_t c = white_to_move ? list.entries[chosen].white : list.entries[chosen].black;
    for (int i = 0; i < chosen; ++i) {
        const uint64_t m = white_to_move ? list.entries[i].white : list.entries[i].black;
        if ((own & ~m) == (own & ~c) && (m & ~own) == (c & ~own)) return false;
    }
    return (own & ~c) != 0 && (c & ~own) != 0;
}

} // namespace

int main(int argc, char** argv) {
    setup_line_output();
    const uint64_t nodes = strtoull(option(argc, argv, "--nodes", "2000000"), nullptr, 10);
    const int plies = atoi(option(argc, argv, "--plies", "10"));
    const int full_plies = atoi(option(argc, argv, "--full-plies", "2"));
    const int margin = atoi(option(argc, argv, "--margin", "15"));
    const int wanted = atoi(option(argc, argv, "--positions", "400"));
    const char* out = option(argc, argv, "--out", "standin/book.txt");
    if (nodes < 1000 || plies < 1 || wanted < 1 || wanted > most_positions) {
        printf("usage: book [--nodes N] [--plies P] [--full-plies F] [--margin M] "
               "[--positions N] [--out FILE]\n");
        return 2;
    }
    if (search_init(64)) return 1;
    FILE* file = fopen(out, "w");
    if (!file) {
        printf("book: cannot write %s\n", out);
        return 1;
    }
    fprintf(file,
            "# The stand-in's opening book: position, move, score (hundredths of a man) for the\n"
            "# side to move. Made by make book: book --nodes %llu --plies %d --full-plies %d "
            "--margin %d --positions %d\n",
            static_cast<unsigned long long>(nodes), plies, full_plies, margin, wanted);
    const auto start = std::chrono::steady_clock::now();
    int count = 1, written = 0;
    queue[0] = Pending{Position{0x00000000001FFBFFull, 0x003FF7FE00000000ull, 0}, 1, 0};
    for (int next = 0; next < count && written < wanted; ++next) {
        const Pending at = queue[next];
        MoveList& list = lists[0];
        const int moves = legal_moves(at.position, at.white_to_move, list);
        int values[max_moves], best = -1;
        for (int i = 0; i < moves; ++i) {
            search_clear();
            SearchLimits limits;
            limits.max_nodes = nodes;
            const Position history[1] = {at.position};
            values[i] =
                -search_position(list.entries[i], !at.white_to_move, limits, history, 1).score;
            if (best < 0 || values[i] > values[best]) best = i;
        }
        if (best < 0) continue;
        char fen[fen_buffer_size], move[16];
        format_fen(at.position, at.white_to_move, fen, sizeof fen);
        move_text(at.position, list.entries[best], at.white_to_move, move, sizeof move);
        // A forced move needs no book; an ambiguous one the server could not name.
        if (moves > 1 && first_of_its_squares(at.position, at.white_to_move, list, best)) {
            fprintf(file, "%s %s %d\n", fen, move, values[best]);
            ++written;
        }
        printf("ply %d, %d of %d: %s %s %d (%.0f s)\n", at.ply, written, count, fen, move,
               values[best],
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (at.ply + 1 >= plies) continue;
        for (int i = 0; i < moves && count < most_positions; ++i) {
            if (at.ply >= full_plies && values[i] < values[best] - margin) continue;
            if (seen_before(count, list.entries[i], !at.white_to_move)) continue;
            queue[count++] = Pending{list.entries[i], !at.white_to_move, at.ply + 1};
        }
    }
    const bool failed = fclose(file) != 0;
    printf("book: %d positions in %s\n", written, out);
    return failed ? 1 : 0;
}
