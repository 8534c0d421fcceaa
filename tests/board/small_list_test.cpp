// The generator built with a two-entry list (BOARD_MAX_MOVES=2): a full list drops captures
// and says so, never writes past its end, and is whole again once a longer capture resets it.
#include <gtest/gtest.h>

#include "tests/board/helpers.h"

namespace {

static_assert(max_moves == 2);

// Sentinels on both sides of the buffers catch a write past the end without a sanitizer.
constexpr uint64_t sentinel = 0xA5A5A5A5A5A5A5A5ull;
struct Guarded {
    uint64_t before[4];
    MoveList list;
    CapturePath paths[max_moves + 1];
    uint64_t after[4];
    void arm() {
        for (int i = 0; i < 4; i++) before[i] = after[i] = sentinel;
    }
    bool intact() const {
        for (int i = 0; i < 4; i++)
            if (before[i] != sentinel || after[i] != sentinel) return false;
        return true;
    }
} guarded;

TEST(SmallList, FullListDropsAndSaysSo) {
    int side;
    const Position p = fen_position(
        "W:WK5,K15,K46,K47,K48,K49:BK8,9,18,19,22,K24,27,30,31,K35,40,K41,42,43,K44.", &side);
    const ReferenceMoves reference = reference_moves(p, side);
    ASSERT_GT(reference.results.size(), 2u);
    for (CapturePath* paths : {guarded.paths, static_cast<CapturePath*>(nullptr)}) {
        guarded.arm();
        EXPECT_EQ(generate_captures(p, side, guarded.list, paths), 2);
        EXPECT_TRUE(guarded.list.truncated);
        EXPECT_TRUE(guarded.intact());
        for (int i = 0; i < 2; i++) {
            EXPECT_EQ(reference.results.count(key_of(guarded.list.entries[i])), 1u);
            if (paths) {
                EXPECT_EQ(path_fault(p, side, guarded.list, paths, i, reference.taken), "");
            }
        }
    }
}

TEST(SmallList, LongerCaptureAfterAFullListIsComplete) {
    // Three one-piece captures fill the list first (35x24, 46x32, 46x28); the one capture of
    // two pieces found after them is the whole legal list.
    int side;
    const Position p = fen_position("W:WK46,14,35:B23,30,37", &side);
    guarded.arm();
    EXPECT_EQ(generate_captures(p, side, guarded.list, guarded.paths), 1);
    EXPECT_FALSE(guarded.list.truncated);
    EXPECT_TRUE(guarded.intact());
    EXPECT_EQ(move_texts(p, side), std::vector<std::string>{"46x19 37 23"});
    // A fresh quiet list clears the flag.
    EXPECT_EQ(generate_quiet_moves(fen_position("W:W31:B1"), 1, guarded.list), 2);
    EXPECT_FALSE(guarded.list.truncated);
}

} // namespace
