// The published perft figures at moderate depth (perft-check runs them in full).
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

struct Figures {
    const char* name;
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
    ::testing::Values(
        Figures{"Start", "W:W31-50:B1-20", {9, 81, 658, 4265, 27117, 167140, 1049442, 6483961}},
        Figures{"Middlegame",
                "W:B12,13,14,16,18,19,21,23,24,26:W25,27,28,30,32,33,34,35,37,38",
                {6, 12, 30, 73, 215, 590, 1944, 6269, 22369, 88050, 377436, 1910989}},
        Figures{"AllKings", "W:WK31-50:BK1-20", {17, 79, 352, 1399, 7062, 37589, 217575}}),
    [](const ::testing::TestParamInfo<Figures>& param) { return std::string(param.param.name); });

TEST(Perft, DepthZeroAndDeadPositions) {
    EXPECT_EQ(perft(fen_position("W:W31-50:B1-20"), 1, 0), 1u);
    EXPECT_EQ(perft(fen_position("W:W:B1"), 1, 3), 0u); // no white piece, no move
    // White takes both black men (46x48), so black has no reply.
    EXPECT_EQ(perft(fen_position("W:W46:B41,42"), 1, 2), 0u);
}

} // namespace
