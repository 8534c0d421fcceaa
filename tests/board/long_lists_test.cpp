// Positions whose legal moves would not fit the 128-entry lists such a generator is often
// given: they are listed in full, with their paths, and nothing is dropped.
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

TEST(LongLists, MoreThan127MaximalCaptures) {
    // Found by tools/capture_search.cpp: six white kings, 407 maximal captures of 6 pieces.
    int side, count, n;
    const Position p = fen_position(
        "W:WK5,K15,K46,K47,K48,K49:BK8,9,18,19,22,K24,27,30,31,K35,40,K41,42,43,K44.", &side);
    check_moves(p, side, count, n);
    EXPECT_EQ(count, 407);
    EXPECT_EQ(n, 6);
    // Perft through such a position works as well (the list of every reply fits).
    EXPECT_EQ(perft(p, side, 1), 407u);
}

TEST(LongLists, LongestCaptureFoundKeepsItsWholePath) {
    // 19 pieces, the most capture-search found with 20 a side; every step is recorded.
    int side, count, n;
    const Position p = fen_position("W:WK6,K26,K28,37,K45:BK8,9,K10,11,12,K14,19,20,21,22,K23,"
                                    "30,31,32,33,34,41,42,43,K44.",
                                    &side);
    check_moves(p, side, count, n);
    ASSERT_EQ(n, 19);
    EXPECT_EQ(move_texts(p, side)[0],
              "45x2 34 33 43 44 30 19 22 32 42 41 31 21 11 12 23 20 10 9 8");
}

} // namespace
