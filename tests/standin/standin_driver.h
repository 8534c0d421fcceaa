// Drives a real winkavro.exe through the process layer, as the server does: a fresh working
// directory with the program and its ini, reads and writes at the fixed addresses, and the
// process group ended when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "board/board.h"
#include "board/movegen.h"
#include "platform/platform.h"
#include "standin/memory_map.h"
#include "tests/platform/scratch_dir.h"

template <class Predicate> bool wait_until(Predicate predicate, int limit_ms) {
    int64_t start = clock_ms();
    while (!predicate()) {
        if (clock_ms() - start > limit_ms) return false;
        pause_ms(1);
    }
    return true;
}

inline ByteBoard standard_start() {
    ByteBoard board{};
    for (int i = 0; i < 20; ++i) board[size_t(i)] = -1;
    for (int i = 30; i < 50; ++i) board[size_t(i)] = 1;
    return board;
}

// A board from a list of (square, value) pairs.
inline ByteBoard board_with(std::initializer_list<std::pair<int, int>> pieces) {
    ByteBoard board{};
    for (auto [square, value] : pieces) board[size_t(square - 1)] = int8_t(value);
    return board;
}

struct AnalysisLine {
    int from[24];
    int to[24]; // with the capture bit
    int length;
    int16_t score;
};

class StandinTest : public ::testing::Test {
  protected:
    static constexpr int movetime_ms = 300;
    ScratchDir dir;
    EngineProcess* engine = nullptr;
    int64_t pid = 0;

    virtual std::string ini_text() {
        return "# short games for the tests\nmovetime_ms=" + std::to_string(movetime_ms) +
               "\nhash_megabytes=4\n";
    }

    void SetUp() override {
        fill_bit_count_table();
        build_ray_table();
        adopt_orphans();
        dir.link_program(WINKAVRO_DIR, "winkavro.exe", "winkavro.exe");
        dir.write_file("winkavro.ini", ini_text());
        engine = launch_child("winkavro.exe");
        ASSERT_NE(engine, nullptr);
        pid = child_process_id(engine);
        ByteBoard board{};
        // Ready once its map is there and shows the start.
        ASSERT_TRUE(wait_until(
            [&] {
                return !engine->read_memory(map_game_board, board.data(), board.size()) &&
                       board == standard_start();
            },
            5000))
            << "the stand-in never showed its start board";
    }
    void TearDown() override {
        end_process_group(pid);
        delete engine;
    }

    ByteBoard board() {
        ByteBoard b{};
        EXPECT_FALSE(engine->read_memory(map_game_board, b.data(), b.size()));
        return b;
    }
    int8_t byte_at(uint32_t address) {
        int8_t value = 0;
        EXPECT_FALSE(engine->read_memory(address, &value, 1));
        return value;
    }
    void poke(uint32_t address, int8_t value) {
        ASSERT_FALSE(engine->write_memory(address, &value, 1));
    }
    // Types a command the way the server does: the text with its zero byte, then both flags.
    void type(const char* text) {
        ASSERT_FALSE(engine->write_memory(map_command_text, text, std::strlen(text) + 1));
        poke(map_command_flag, 1);
        poke(map_command_flag2, 1);
    }
    // True once the stand-in has taken the command (both flags lowered).
    bool command_taken(int limit_ms = 1000) {
        return wait_until(
            [&] { return byte_at(map_command_flag2) == 0 && byte_at(map_command_flag) == 0; },
            limit_ms);
    }
    // The stand-in lowers the flags first and then carries the command out: a change of the
    // player flags shows a moment later.
    bool player_flags_become(int8_t black, int8_t white, int limit_ms = 1000) {
        return wait_until(
            [&] {
                return byte_at(map_player_plays_black) == black &&
                       byte_at(map_player_plays_white) == white;
            },
            limit_ms);
    }
    void write_setup(const ByteBoard& b) {
        std::array<int8_t, 54> setup{};
        setup.fill(3);
        for (int s = 1; s <= 50; ++s) setup[size_t(setup_index_of_square(s))] = b[size_t(s - 1)];
        ASSERT_FALSE(engine->write_memory(map_setup_board, setup.data(), setup.size()));
    }
    void new_game(const ByteBoard& b) {
        write_setup(b);
        type("n");
        ASSERT_TRUE(wait_until([&] { return board() == b; }, 1000));
    }
    // Waits for the board to differ from the reference; the new board, or the reference on
    // timeout.
    ByteBoard wait_change(const ByteBoard& reference, int limit_ms) {
        ByteBoard now = reference;
        wait_until(
            [&] {
                now = board();
                return now != reference;
            },
            limit_ms);
        return now;
    }
    AnalysisLine analysis() {
        int8_t from[24], to[24];
        AnalysisLine line{};
        EXPECT_FALSE(engine->read_memory(map_analysis_from, from, sizeof from));
        EXPECT_FALSE(engine->read_memory(map_analysis_to, to, sizeof to));
        EXPECT_FALSE(engine->read_memory(map_score, &line.score, sizeof line.score));
        while (line.length < 24 && from[line.length] != map_end_of_line) {
            line.from[line.length] = from[line.length];
            line.to[line.length] = to[line.length];
            ++line.length;
        }
        return line;
    }
};

// The square of a square code, 0 for a code that is no square.
inline int square_of_code_for_test(int code) {
    for (int s = 1; s <= 50; ++s)
        if (square_code(s) == code) return s;
    return 0;
}

// The index of the legal move that leads from one board to the other, or -1.
inline int legal_move_index(const ByteBoard& before, const ByteBoard& after, int white_to_move) {
    static MoveList list;
    static CapturePaths paths;
    int n = 0;
    int count = generate_legal_moves(position_of_board(before), white_to_move, list, paths, n);
    Position target = position_of_board(after);
    for (int i = 0; i < count; ++i)
        if (list.entries[i] == target) return i;
    return -1;
}
