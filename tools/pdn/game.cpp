// Legal moves with their squares, the game record and the draw rules.
#include "tools/pdn/game.h"

#include <cstdio>
#include <cstring>

void list_legal_moves(const Position& position, int white_to_move, LegalMoves& legal) {
    legal.before = position;
    legal.white_to_move = white_to_move ? 1 : 0;
    int n = 0;
    legal.count = generate_legal_moves(position, legal.white_to_move, legal.list, legal.paths, n);
    legal.taken = legal.count > 0 ? n : 0;
}

static MoveSquares squares_of(const LegalMoves& legal, int index) {
    return move_squares(legal.taken, index, legal.white_to_move, legal.before, legal.list,
                        legal.paths);
}

void describe_move(const LegalMoves& legal, int index, GameMove& move) {
    MoveSquares squares = squares_of(legal, index);
    move.from = int8_t(square_of_mask(squares.from));
    move.to = int8_t(square_of_mask(squares.to));
    move.capture_count = int8_t(legal.taken);
    for (int k = 0; k < legal.taken; ++k)
        move.captured[k] =
            int8_t(square_of_mask(path_piece_taken(legal.paths[index], k, legal.white_to_move)));
    for (int k = legal.taken; k < max_capture_pieces; ++k) move.captured[k] = 0;
    move.after = legal.list.entries[index];
}

uint64_t captured_mask(const LegalMoves& legal, int index) {
    uint64_t mask = 0;
    for (int k = 0; k < legal.taken; ++k)
        mask |= path_piece_taken(legal.paths[index], k, legal.white_to_move);
    return mask;
}

int find_move(const LegalMoves& legal, int from, int to, const int* captured, int capture_count) {
    if (capture_count != legal.taken) return -1;
    if (from < 1 || from > 50 || to < 1 || to > 50) return -1;
    uint64_t wanted = 0;
    for (int k = 0; k < capture_count; ++k) {
        int square = captured[k];
        if (square < 1 || square > 50) return -1;
        uint64_t mask = square_mask[square - 1];
        if (wanted & mask) return -1; // named twice
        wanted |= mask;
    }
    for (int i = 0; i < legal.count; ++i) {
        MoveSquares squares = squares_of(legal, i);
        if (squares.from != square_mask[from - 1] || squares.to != square_mask[to - 1]) continue;
        if (captured_mask(legal, i) == wanted) return i;
    }
    return -1;
}

bool move_is_ambiguous(const LegalMoves& legal, int index) {
    MoveSquares mine = squares_of(legal, index);
    for (int j = 0; j < legal.count; ++j) {
        if (j == index || legal.list.entries[j] == legal.list.entries[index]) continue;
        MoveSquares other = squares_of(legal, j);
        if (other.from == mine.from && other.to == mine.to) return true;
    }
    return false;
}

// ---- the record ----------------------------------------------------------------------

void set_game_text(char* field, int size, const char* text) {
    snprintf(field, size_t(size), "%s", text ? text : "");
}

void start_game(GameRecord& game, const Position& start, int white_to_move, bool custom_start) {
    set_game_text(game.event, "?");
    set_game_text(game.site, "?");
    set_game_text(game.date, "????.??.??");
    set_game_text(game.round, "?");
    set_game_text(game.white, "?");
    set_game_text(game.black, "?");
    set_game_text(game.result, "*");
    game.custom_start = custom_start;
    game.start = start;
    game.start_white_to_move = white_to_move ? 1 : 0;
    game.ply_count = 0;
}

// The position before ply index (0-based); after the last ply when index == ply_count.
static const Position& position_before(const GameRecord& game, int index) {
    return index == 0 ? game.start : game.moves[index - 1].after;
}

Position game_position(const GameRecord& game) {
    return position_before(game, game.ply_count);
}

int game_white_to_move(const GameRecord& game) {
    return (game.start_white_to_move + game.ply_count) % 2;
}

bool add_move(GameRecord& game, const GameMove& move) {
    if (game.ply_count >= max_game_plies) {
        printf("The game is longer than %d moves; it cannot be recorded.\n", max_game_plies);
        return true;
    }
    game.moves[game.ply_count++] = move;
    return false;
}

// A capture or a man's move: no earlier position can come back after it.
static bool is_irreversible(const GameRecord& game, int index) {
    const GameMove& move = game.moves[index];
    if (move.capture_count > 0) return true;
    return (position_before(game, index).kings & square_mask[move.from - 1]) == 0;
}

bool is_threefold_repetition(const GameRecord& game) {
    const int last = game.ply_count;
    const Position& now = position_before(game, last);
    int seen = 1;
    for (int index = last - 1; index >= 0; --index) {
        if (is_irreversible(game, index)) break;
        if ((last - index) % 2 == 0 && position_before(game, index) == now) ++seen;
    }
    return seen >= 3;
}

int kings_only_plies(const GameRecord& game) {
    int plies = 0;
    for (int index = game.ply_count - 1; index >= 0 && !is_irreversible(game, index); --index)
        ++plies;
    return plies;
}

// ---- DXP position characters ---------------------------------------------------------

void position_to_dxp_text(const Position& position, char* text) {
    for (int s = 1; s <= 50; ++s) {
        uint64_t mask = square_mask[s - 1];
        bool king = (position.kings & mask) != 0;
        if (position.white & mask)
            text[s - 1] = king ? 'W' : 'w';
        else if (position.black & mask)
            text[s - 1] = king ? 'Z' : 'z';
        else
            text[s - 1] = 'e';
    }
}

bool position_from_dxp_text(const char* text, Position& position) {
    position = Position{0, 0, 0};
    for (int s = 1; s <= 50; ++s) {
        uint64_t mask = square_mask[s - 1];
        switch (text[s - 1]) {
        case 'e':
            break;
        case 'w':
            position.white |= mask;
            break;
        case 'W':
            position.white |= mask;
            position.kings |= mask;
            break;
        case 'z':
            position.black |= mask;
            break;
        case 'Z':
            position.black |= mask;
            position.kings |= mask;
            break;
        default:
            return true;
        }
    }
    return false;
}
