// Helpers shared by the tool tests: tables, positions from FEN, moves by their squares,
// deterministic random games, whole-game comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "board/fen.h"
#include "tools/pdn/game.h"

inline void ensure_tables() {
    static bool done = (fill_bit_count_table(), build_ray_table(), true);
    (void)done;
}

inline Position fen_position(const char* fen, int& white_to_move) {
    ensure_tables();
    Position position{};
    char error[160];
    EXPECT_FALSE(parse_fen(fen, position, white_to_move, error, sizeof error)) << fen << error;
    return position;
}

// The index of the listed move with these squares and captured squares (any order), or -1.
inline int listed(const LegalMoves& legal, int from, int to,
                  std::initializer_list<int> taken = {}) {
    int squares[max_capture_pieces];
    int n = 0;
    for (int s : taken) squares[n++] = s;
    return find_move(legal, from, to, squares, n);
}

// Plays one move given by its squares on the record; fails the test when it is not legal.
inline void play(GameRecord& game, LegalMoves& legal, int from, int to,
                 std::initializer_list<int> taken = {}) {
    list_legal_moves(game_position(game), game_white_to_move(game), legal);
    int index = listed(legal, from, to, taken);
    ASSERT_GE(index, 0) << from << "-" << to << " is not legal";
    GameMove move;
    describe_move(legal, index, move);
    ASSERT_FALSE(add_move(game, move));
}

// xorshift64*, so that random games are the same on every run.
struct TestRandom {
    uint64_t state;
    int below(int n) {
        state ^= state >> 12, state ^= state << 25, state ^= state >> 27;
        return int(state * 0x2545F4914F6CDD1Dull % uint64_t(n));
    }
};

// Plays random legal moves until a side cannot move or the ply limit is reached.
inline void play_random_game(GameRecord& game, LegalMoves& legal, TestRandom& random,
                             int max_plies) {
    while (game.ply_count < max_plies) {
        list_legal_moves(game_position(game), game_white_to_move(game), legal);
        if (legal.count == 0) break;
        GameMove move;
        describe_move(legal, random.below(legal.count), move);
        ASSERT_FALSE(add_move(game, move));
    }
}

inline std::string read_whole_file(FILE* file) {
    std::string text;
    rewind(file);
    for (int c; (c = fgetc(file)) != EOF;) text += char(c);
    return text;
}

// Two records hold the same game: start, every move (squares, captured set, result position)
// and result.
inline void expect_same_game(const GameRecord& a, const GameRecord& b, bool with_result = true) {
    EXPECT_EQ(a.custom_start, b.custom_start);
    EXPECT_EQ(a.start, b.start);
    EXPECT_EQ(a.start_white_to_move, b.start_white_to_move);
    EXPECT_STREQ(with_result ? a.result : "", with_result ? b.result : "");
    ASSERT_EQ(a.ply_count, b.ply_count);
    auto captured = [](const GameMove& m) {
        uint64_t mask = 0;
        for (int k = 0; k < m.capture_count; ++k) mask |= square_mask[m.captured[k] - 1];
        return mask;
    };
    for (int i = 0; i < a.ply_count; ++i) {
        const GameMove &x = a.moves[i], &y = b.moves[i];
        EXPECT_TRUE(x.from == y.from && x.to == y.to && x.capture_count == y.capture_count &&
                    captured(x) == captured(y) && x.after == y.after)
            << "ply " << i + 1;
    }
}
