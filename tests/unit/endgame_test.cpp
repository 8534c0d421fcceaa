// The endgame bitbases: the generator against positions whose value is known by hand, against
// a search to the end of short forced lines, and every value against its moves' values as the
// stand-in probes them (both sides to move, so the index and the turned board too); the file
// read back, and its absence.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <random>

#include "board/movegen.h"
#include "standin/endgame.h"
#include "standin/search.h"
#include "tests/unit/support.h"
#include "tools/endgame/endgame.h"

namespace {

// 1 the side to move wins within depth plies, -1 it loses, 0 neither is forced so soon.
int forced(const Position& p, int white, int depth) {
    MoveList list;
    int count = legal_moves(p, white, list);
    if (count == 0) return -1;
    if (depth == 0) return 0;
    int best = -1;
    for (int i = 0; i < count && best < 1; ++i)
        best = std::max(best, -forced(list.entries[i], !white, depth - 1));
    return best;
}

EndgameValue probed(const Position& p, int white) {
    if ((white ? p.white : p.black) == 0) return endgame_loss;
    return probe_endgame(p, white);
}

struct Known {
    const char* fen;
    EndgameValue value;
};
// By hand: a man that takes the last piece; a man with no move; two kings on the long
// diagonal, the one to move taken wherever it goes (either side to move); kings apart; two
// men crowned at once, whichever moves first.
const Known known[] = {
    {"W:W28:B23", endgame_win},   {"W:W46:B41,37", endgame_loss}, {"W:WK46:BK5", endgame_loss},
    {"B:WK46:BK5", endgame_loss}, {"W:WK1:BK50", endgame_draw},   {"W:W6:B45", endgame_draw},
    {"B:W6:B45", endgame_draw},
};

TEST(Endgame, GeneratorAgreesWithHandSearchAndItsOwnMoves) {
    ASSERT_FALSE(generate_endgame(3, false));
    for (const Known& row : known) {
        int white = 1;
        const Position p = fen(row.fen, &white);
        EXPECT_EQ(probed(p, white), row.value) << row.fen;
    }
    std::mt19937 rng(5);
    MoveList list;
    int decided = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        // Two or three pieces on distinct squares, men off their crowning row, both sides.
        Position p{};
        const int pieces = 2 + int(rng() % 2);
        for (int k = 0; k < pieces; ++k) {
            const bool white = k == 0 || (k == 2 && rng() % 2), king = rng() % 2;
            uint64_t square;
            do square = square_mask[rng() % 50];
            while ((square & (p.white | p.black)) ||
                   (!king && (square & (white ? white_promotion_mask : black_promotion_mask))));
            (white ? p.white : p.black) |= square;
            if (king) p.kings |= square;
        }
        const int white = int(rng() % 2);
        const EndgameValue v = probed(p, white);
        const int count = legal_moves(p, white, list);
        bool some_lost = false, all_won = true;
        for (int i = 0; i < count; ++i) {
            const EndgameValue child = probed(list.entries[i], !white);
            some_lost |= child == endgame_loss;
            all_won &= child == endgame_win;
        }
        EXPECT_EQ(v, some_lost ? endgame_win
                     : all_won ? endgame_loss
                               : endgame_draw)
            << "trial " << trial;
        // Searched to the end only with at most one king: kings' trees grow too fast.
        const int f = std::popcount(p.kings) <= 1 ? forced(p, white, 6) : 0;
        if (f) {
            EXPECT_EQ(v, f > 0 ? endgame_win : endgame_loss) << "trial " << trial;
        }
        decided += f != 0;
    }
    EXPECT_GT(decided, 200); // the search to the end decided enough rows to mean something
}

TEST(Endgame, FileReadBackAndItsAbsence) {
    ASSERT_FALSE(generate_endgame(2, false));
    const std::string path = testing::TempDir() + "endgame-test.bin";
    ASSERT_FALSE(write_endgame(path.c_str(), 2));
    const EndgameValue before = probe_endgame(fen("W:W28:B23"), 1);
    endgame_pieces = 0;
    ASSERT_FALSE(load_endgame(path.c_str()));
    EXPECT_EQ(endgame_pieces, 2);
    EXPECT_EQ(probe_endgame(fen("W:W28:B23"), 1), before);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(load_endgame("no-such-endgame.bin"));
    EXPECT_TRUE(load_endgame(UNIT_DATA "/../support.h")); // not a bitbase file
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No endgame bitbases (no-such-endgame.bin): playing without them.\n"
              "The endgame bitbases (" UNIT_DATA "/../support.h) are not usable: playing "
              "without them.\n");
    EXPECT_EQ(endgame_pieces, 2); // what was loaded stays
    std::remove(path.c_str());
}

} // namespace
