// The simple Kavro of the tests: commands, typed moves and replies on the fake process.
#include "tests/engine/fake_kavro.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/fen.h"
#include "board/movegen.h"
#include "engine/engine.h"

namespace {

// Half a megabyte of paths: kept out of the stack, shared by every fake (tests run on one
// thread).
MoveList move_list;
CapturePaths capture_paths;

bool parse_number(const char*& p, int& value) {
    if (*p < '0' || *p > '9') return false;
    value = 0;
    while (*p >= '0' && *p <= '9' && value < 1000) value = value * 10 + (*p++ - '0');
    return value >= 1 && value <= 50;
}

int legal_moves(const Position& before, int white_to_move, int& n) {
    return generate_legal_moves(before, white_to_move, move_list, capture_paths, n);
}

} // namespace

ByteBoard standard_start_board() {
    ByteBoard board;
    for (int s = 1; s <= 50; ++s) board[s - 1] = int8_t(s <= 20 ? -1 : s <= 30 ? 0 : 1);
    return board;
}

ByteBoard board_from_fen(const char* fen) {
    Position position{};
    int white_to_move = 0;
    char error[200];
    if (parse_fen(fen, position, white_to_move, error, sizeof error)) {
        fprintf(stderr, "bad FEN in a test: %s: %s\n", fen, error);
        abort();
    }
    ByteBoard board;
    board_of_position(position, board);
    return board;
}

FakeKavro::FakeKavro() {
    fill_bit_count_table();
    build_ray_table();
    show_board(standard_start_board(), 1);
    set_setup_board(standard_start_board());
    process.poke_byte(kavro_player_plays_black, 1);
    process.poke_byte(kavro_player_plays_white, 1);
    set_analysis({}, {}, 0);
    process.after_write = [this](FakeEngineProcess&, uint32_t address, size_t size) {
        on_write(address, size);
    };
    process.before_read = [this](FakeEngineProcess&, uint32_t address, size_t) {
        on_read(address);
    };
}

void FakeKavro::show_board(const ByteBoard& board, int side_to_move) {
    process.poke(kavro_game_board, board.data(), board.size());
    white_to_move = side_to_move;
}

ByteBoard FakeKavro::game_board() const {
    ByteBoard board;
    process.peek(kavro_game_board, board.data(), board.size());
    return board;
}

ByteBoard FakeKavro::setup_board() const {
    EngineBoard image;
    process.peek(kavro_setup_board, image.data(), image.size());
    ByteBoard board;
    for (int s = 0; s < 50; ++s) {
        const int8_t value = image[s + s / 10];
        board[s] = value >= -2 && value <= 2 ? value : 0;
    }
    return board;
}

void FakeKavro::set_setup_board(const ByteBoard& board) {
    const EngineBoard image = engine_board_of(board);
    process.poke(kavro_setup_board, image.data(), image.size());
}

bool FakeKavro::plays_white() const {
    return process.byte_at(kavro_player_plays_white) == 0;
}
bool FakeKavro::plays_black() const {
    return process.byte_at(kavro_player_plays_black) == 0;
}

void FakeKavro::set_analysis(const std::vector<uint8_t>& origins,
                             const std::vector<uint8_t>& destinations, int16_t score) {
    uint8_t from[kavro_analysis_length];
    uint8_t to[kavro_analysis_length];
    memset(from, kavro_end_of_line, sizeof from);
    memset(to, 0, sizeof to);
    for (size_t i = 0; i < origins.size() && i < sizeof from; ++i) from[i] = origins[i];
    for (size_t i = 0; i < destinations.size() && i < sizeof to; ++i) to[i] = destinations[i];
    process.poke(kavro_analysis_from, from, sizeof from);
    process.poke(kavro_analysis_to, to, sizeof to);
    process.poke_int16(kavro_score, score);
}

void FakeKavro::on_write(uint32_t address, size_t size) {
    if (address > kavro_command_flag2 || address + size <= kavro_command_flag2) return;
    if (process.byte_at(kavro_command_flag2) != 1) return;
    char text[64];
    process.peek(kavro_command_text, text, sizeof text);
    text[sizeof text - 1] = '\0';
    process.poke_byte(kavro_command_flag, 0);
    process.poke_byte(kavro_command_flag2, 0);
    take_command(text);
}

void FakeKavro::on_read(uint32_t address) {
    if (address != kavro_game_board || !pending_reply_) return;
    if (--reads_left_ <= 0) reply();
}

void FakeKavro::take_command(const std::string& text) {
    commands.push_back(text);
    pending_reply_ = false; // a command interrupts its thinking
    if (text == "n") {
        if (!ignore_new_game) show_board(setup_board(), 1);
    } else if (text == "kca") {
        process.poke_byte(kavro_player_plays_white, 0);
        process.poke_byte(kavro_player_plays_black, 1);
    } else if (text == "kac") {
        process.poke_byte(kavro_player_plays_black, 0);
        process.poke_byte(kavro_player_plays_white, 1);
    } else if (!ignore_moves && !play_typed_move(text)) {
        return;
    }
    start_reply();
}

bool FakeKavro::play_typed_move(const std::string& text) {
    const char* p = text.c_str();
    int from = 0, to = 0, jumped = 0;
    if (!parse_number(p, from) || *p++ != '-' || !parse_number(p, to)) return false;
    if (*p == '-') {
        ++p;
        jumped = to;
        if (!parse_number(p, to)) return false;
    }
    if (*p != '\0') return false;

    const ByteBoard board = game_board();
    const Position before = position_of_board(board);
    int n = 0;
    const int count = legal_moves(before, white_to_move, n);
    for (int i = 0; i < count; ++i) {
        const MoveSquares squares =
            move_squares(n, i, white_to_move, before, move_list, capture_paths);
        if (square_of_mask(squares.from) != from || square_of_mask(squares.to) != to) continue;
        if (jumped != 0 && (n == 0 || !path_takes_piece(n, white_to_move, square_mask[jumped - 1],
                                                        capture_paths, i)))
            continue;
        ByteBoard after;
        board_of_position(move_list.entries[i], after);
        show_board(after, !white_to_move);
        return true;
    }
    return false;
}

void FakeKavro::start_reply() {
    const bool its_turn = white_to_move ? plays_white() : plays_black();
    if (!its_turn || never_replies) return;
    if (reply_after_board_reads <= 0) {
        reply();
    } else {
        pending_reply_ = true;
        reads_left_ = reply_after_board_reads;
    }
}

void FakeKavro::reply() {
    pending_reply_ = false;
    if (!replies.empty()) {
        show_board(replies.front(), !white_to_move);
        replies.pop_front();
        ++replies_made;
        return;
    }
    const Position before = position_of_board(game_board());
    int n = 0;
    if (legal_moves(before, white_to_move, n) == 0) return;
    const MoveSquares squares = move_squares(n, 0, white_to_move, before, move_list, capture_paths);
    const uint8_t capture = n > 0 ? 0x40 : 0;
    set_analysis({uint8_t(code_of_square(square_of_mask(squares.from)))},
                 {uint8_t(code_of_square(square_of_mask(squares.to)) | capture)}, reply_score);
    ByteBoard after;
    board_of_position(move_list.entries[0], after);
    show_board(after, !white_to_move);
    ++replies_made;
}
