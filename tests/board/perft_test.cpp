// The published perft figures at moderate depth (perft-check runs them in full).
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

struct Figures {
    const char* fen;
    std::vector<uint64_t> leaves; // depth 1 upwards
};

class PublishedPerft : public ::testing::TestWithParam<Figures> {};

TEST_P(PublishedPerft, MatchesEveryDepth) {
    int side;
    const Position p = fen_position(GetParam().fen, &side);
    for (size_t d = 1; d <= GetParam().leaves.size(); d++)
        EXPECT_EQ(perft(p, side, static_cast<int>(d)), GetParam().leaves[d - 1]) << "depth " << d;
}

INSTANTIATE_TEST_SUITE_P(
    Figures, PublishedPerft,
    ::testing::Values(Figures{"W:W31-50:B1-20",
                              {9, 81, 658, 4265, 27117, 167140, 1049442, 6483961}},
                      Figures{"W:B12,13,14,16,18,19,21,23,24,26:W25,27,28,30,32,33,34,35,37,38",
                              {6, 12, 30, 73, 215, 590, 1944, 6269, 22369, 88050, 377436, 1910989}},
                      Figures{"W:WK31-50:BK1-20", {17, 79, 352, 1399, 7062, 37589, 217575}}));

TEST(Perft, DepthZeroAndDeadPositions) {
    const Position start = fen_position("W:W31-50:B1-20");
    EXPECT_EQ(perft(start, 1, 0), 1u);
    EXPECT_EQ(perft(fen_position("W:W:B1"), 1, 3), 0u); // no white piece, no move
    // White's man is blocked, so the tree ends at once.
    EXPECT_EQ(perft(fen_position("W:W46:B41,42"), 1, 2), 0u);
}

// perft counted the slow way, through the public list generator with paths, must agree.
uint64_t slow_perft(const Position& p, int side, int depth) {
    if (depth == 0) return 1;
    static MoveList lists[6];
    static CapturePath paths[6][max_moves + 1];
    MoveList& list = lists[depth];
    int n;
    const int count = generate_legal_moves(p, side, list, paths[depth], n);
    uint64_t leaves = 0;
    for (int i = 0; i < count; i++) leaves += slow_perft(list.entries[i], !side, depth - 1);
    return leaves;
}

TEST(Perft, AgreesWithTheListGeneratorWithPaths) {
    const char* fens[] = {"W:WK46,14,35:B23,30,37", "B:W18,K45:B12,K3.", "W:WK13:B18,30,32,37",
                          "W:W27,28,32,33,K49:B17,18,19,K7,23"};
    for (const char* fen : fens) {
        int side;
        const Position p = fen_position(fen, &side);
        for (int d = 1; d <= 5; d++) EXPECT_EQ(perft(p, side, d), slow_perft(p, side, d)) << fen;
    }
}

} // namespace
