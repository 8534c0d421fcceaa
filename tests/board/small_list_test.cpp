// The generator built with a two-entry list (BOARD_MAX_MOVES=2): a full list drops captures
// and says so, never writes past its end, and is whole again once a longer capture resets it.
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

static_assert(max_moves == 2);

// Sentinels on both sides of the buffers catch a write past the end without a sanitizer.
struct Guarded {
    uint64_t before[4];
    MoveList list;
    CapturePath paths[max_moves + 1];
    uint64_t after[4];
};
Guarded guarded;

void arm() {
    for (int i = 0; i < 4; i++) guarded.before[i] = guarded.after[i] = 0xA5A5A5A5A5A5A5A5ull;
}
bool intact() {
    for (int i = 0; i < 4; i++)
        if (guarded.before[i] != 0xA5A5A5A5A5A5A5A5ull || guarded.after[i] != 0xA5A5A5A5A5A5A5A5ull)
            return false;
    return true;
}

TEST(SmallList, FullListDropsAndSaysSo) {
    int side;
    const Position p = fen_position(
        "W:WK5,K15,K46,K47,K48,K49:BK8,9,18,19,22,K24,27,30,31,K35,40,K41,42,43,K44.", &side);
    const ReferenceMoves reference = reference_moves(p, side);
    ASSERT_GT(reference.results.size(), 2u);
    arm();
    EXPECT_EQ(generate_captures(p, side, guarded.list, guarded.paths), 2);
    EXPECT_TRUE(guarded.list.truncated);
    EXPECT_TRUE(intact());
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(reference.results.count(key_of(guarded.list.entries[i])), 1u);
        EXPECT_EQ(path_fault(p, side, guarded.list, guarded.paths, i, reference.taken), "");
    }
    arm();
    EXPECT_EQ(generate_captures(p, side, guarded.list, nullptr), 2);
    EXPECT_TRUE(guarded.list.truncated);
    EXPECT_TRUE(intact());
}

TEST(SmallList, LongerCaptureAfterAFullListIsComplete) {
    // Three one-piece captures fill the list first (35x24, 46x32, 46x28); the one capture of
    // two pieces found after them is the whole legal list.
    int side;
    const Position p = fen_position("W:WK46,14,35:B23,30,37", &side);
    arm();
    EXPECT_EQ(generate_captures(p, side, guarded.list, guarded.paths), 1);
    EXPECT_FALSE(guarded.list.truncated);
    EXPECT_TRUE(intact());
    EXPECT_EQ(move_texts(p, side), std::vector<std::string>{"46x19 37 23"});
    // Quiet moves are never more than a list of max_moves holds in play; a fresh quiet list
    // clears the flag.
    EXPECT_EQ(generate_quiet_moves(fen_position("W:W31:B1"), 1, guarded.list), 2);
    EXPECT_FALSE(guarded.list.truncated);
}

} // namespace
