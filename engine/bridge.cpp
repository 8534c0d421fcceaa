// Acting on Kavro: the failure line, its boards, typed commands and the start-up test.
#include <cstdio>
#include <cstring>

#include "engine/engine.h"

EngineProcess* kavro_process = nullptr;

namespace {

// An access without a process fails like any other, so that no caller can crash on it.
bool kavro_read(uint32_t address, void* data, size_t size) {
    return kavro_process == nullptr || kavro_process->read_memory(address, data, size);
}

bool kavro_write(uint32_t address, const void* data, size_t size) {
    return kavro_process == nullptr || kavro_process->write_memory(address, data, size);
}

bool write_one(uint32_t address) {
    const uint8_t one = 1;
    return kavro_write(address, &one, 1);
}

int8_t standard_start_value(int square) {
    return square <= 20 ? -1 : square <= 30 ? 0 : 1;
}

constexpr int start_board_polls = 150; // 15 s

// Squares 1 to 50 in turn: black men, the empty middle, white men.
bool differs_from_start(const ByteBoard& board) {
    for (int s = 1; s <= 50; ++s) {
        if (board[s - 1] != standard_start_value(s)) return true;
    }
    return false;
}

} // namespace

EngineBoard engine_board_of(const ByteBoard& board) {
    EngineBoard image;
    image.fill(3);
    for (int s = 0; s < 50; ++s) image[s + s / 10] = board[s];
    return image;
}

int square_of_code(int code) {
    const int index = code - 6;
    if (index < 0 || index > 53 || index % 11 == 10) return 0;
    return index - index / 11 + 1;
}

int code_of_square(int square) {
    if (square < 1 || square > 50) return 0;
    return (square - 1) + (square - 1) / 10 + 6;
}

void report_last_error(const char* call_name) {
    char text[256];
    last_error_text(text, sizeof text);
    print_line("%s; %s\n", call_name, text);
}

bool read_kavro_board(ByteBoard& board) {
    if (kavro_read(kavro_game_board, board.data(), board.size())) {
        report_last_error("ReadProcessMemory");
        return true;
    }
    return false;
}

bool read_kavro_score(int16_t& score) {
    if (kavro_read(kavro_score, &score, sizeof score)) {
        report_last_error("ReadProcessMemory");
        return true;
    }
    return false;
}

bool read_kavro_memory(uint32_t address, void* data, size_t size) {
    if (kavro_read(address, data, size)) {
        report_last_error("ReadProcessMemory");
        return true;
    }
    return false;
}

bool set_kavro_flag(uint32_t address) {
    if (write_one(address)) {
        report_last_error("WriteProcessMemory");
        return true;
    }
    return false;
}

bool type_kavro_command(const char* text) {
    print_line("Kavro command: \"%s\"\n", text);
    // The text first and the second flag last: Kavro takes the command once that flag is up.
    if (kavro_write(kavro_command_text, text, strlen(text) + 1) || write_one(kavro_command_flag) ||
        write_one(kavro_command_flag2)) {
        report_last_error("WriteProcessMemory");
        return true;
    }
    return false;
}

bool write_setup_board(const ByteBoard& board) {
    const EngineBoard image = engine_board_of(board);
    if (kavro_write(kavro_setup_board, image.data(), image.size())) {
        report_last_error("WriteProcessMemory");
        return true;
    }
    return false;
}

bool load_current_board() {
    if (write_setup_board(current_board) || type_kavro_command("n")) return true;
    pause_ms(500);
    return false;
}

bool test_kavro_at_start() {
    ByteBoard board;
    if (read_kavro_board(board)) {
        print_line("Error reading kavro board.\n");
        return true;
    }
    // A cold start of an old program can outlast the pause after the launch (a virus scan, its
    // book loading): its board gets a grace of about 15 s, read every 100 ms, to show the start.
    for (int poll = 0; differs_from_start(board); ++poll) {
        if (poll == start_board_polls) {
            print_line("Kavro start board does not verify.\n");
            return true;
        }
        if (poll == 0) print_line("Kavro start board not shown yet; waiting up to 15 s.\n");
        pause_ms(100);
        if (read_kavro_board(board)) {
            print_line("Error reading kavro board.\n");
            return true;
        }
    }
    if (set_kavro_flag(kavro_player_plays_black)) {
        print_line("Error setting player_plays_black.\n");
        return true;
    }
    if (set_kavro_flag(kavro_player_plays_white)) {
        print_line("Error setting player_plays_white.\n");
        return true;
    }
    pause_ms(500);
    if (type_kavro_command("n")) {
        print_line("Error sending kavro \"n\" command.\n");
        return true;
    }
    pause_ms(500);
    if (type_kavro_command("31-26")) return true;
    pause_ms(500);
    if (type_kavro_command("19-23")) return true;
    pause_ms(500);
    if (read_kavro_board(board)) return true;
    if (board[31 - 1] != 0 || board[26 - 1] != 1 || board[19 - 1] != 0 || board[23 - 1] != -1)
        return true;
    if (type_kavro_command("kca")) return true;
    waitfor_kavro_board_change(board, 'W', 0, nullptr, nullptr);
    if (read_kavro_board(board)) return true;
    if (set_kavro_flag(kavro_player_plays_black) || set_kavro_flag(kavro_player_plays_white))
        return true;
    pause_ms(500);
    if (type_kavro_command("n")) return true;
    waitfor_kavro_board_change(board, 'Z', 0, nullptr, nullptr);
    return false;
}
