// Positions whose legal moves would not fit the 128-entry lists such a generator is often
// given: they are listed in full, with their paths, and nothing is dropped.
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

// Found by tools/capture_search.cpp: six white kings, 407 maximal captures of 6 pieces.
const char* const many_captures =
    "W:WK5,K15,K46,K47,K48,K49:BK8,9,18,19,22,K24,27,30,31,K35,40,K41,42,43,K44.";

TEST(LongLists, MoreThan127MaximalCaptures) {
    int side;
    const Position p = fen_position(many_captures, &side);
    int n;
    const int count = generate_legal_moves(p, side, test_list, test_paths, n);
    EXPECT_EQ(count, 407);
    EXPECT_EQ(n, 6);
    EXPECT_FALSE(test_list.truncated);
    const ReferenceMoves reference = reference_moves(p, side);
    std::set<std::vector<uint64_t>> listed;
    for (int i = 0; i < count; i++) {
        listed.insert(key_of(test_list.entries[i]));
        ASSERT_EQ(path_fault(p, side, test_list, test_paths, i, n), "") << "capture " << i;
    }
    EXPECT_EQ(listed.size(), static_cast<size_t>(count));
    EXPECT_EQ(listed, reference.results);
    EXPECT_EQ(side_has_capture(p, side), 1);
    // Perft through such a position works as well (the list of every reply fits).
    EXPECT_EQ(perft(p, side, 1), 407u);
}

TEST(LongLists, LongestCaptureFoundKeepsItsWholePath) {
    // 19 pieces, the most capture-search found with 20 a side; every step is recorded.
    int side;
    const Position p = fen_position("W:WK6,K26,K28,37,K45:BK8,9,K10,11,12,K14,19,20,21,22,K23,"
                                    "30,31,32,33,34,41,42,43,K44.",
                                    &side);
    int n;
    const int count = generate_legal_moves(p, side, test_list, test_paths, n);
    ASSERT_EQ(n, 19);
    ASSERT_GT(count, 0);
    for (int i = 0; i < count; i++)
        ASSERT_EQ(path_fault(p, side, test_list, test_paths, i, n), "") << "capture " << i;
    EXPECT_EQ(reference_moves(p, side).taken, 19);
    EXPECT_EQ(move_texts(p, side)[0],
              "45x2 34 33 43 44 30 19 22 32 42 41 31 21 11 12 23 20 10 9 8");
}

} // namespace
