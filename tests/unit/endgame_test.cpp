// The endgame bitbases: the generator against positions whose value is known by hand, against
// a search to the end of short forced lines, and every value against its moves' values as the
// stand-in probes them (both sides to move, so the index and the turned board too); the file
// read back, and its absence. The tables of kings against one: distances known by hand,
// a search to the end of short wins, and the search and evaluation that use it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <random>

#include "board/movegen.h"
#include "standin/endgame.h"
#include "standin/evaluate.h"
#include "standin/kings.h"
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

// True when the kings take the lone king (white's when lone_white) within depth plies, as the
// table counts: a lone king with no move has lost, one that takes every king has escaped.
bool kings_win_within(const Position& p, int white, int depth, int lone_white) {
    const bool lone = white == lone_white;
    MoveList list;
    const int count = legal_moves(p, white, list);
    if (count == 0 || depth == 0) return count == 0 && lone;
    for (int i = 0; i < count; ++i) {
        const Position& c = list.entries[i];
        const bool won = (white ? c.black : c.white) == 0
                             ? !lone
                             : kings_win_within(c, !white, depth - 1, lone_white);
        if (won != lone) return won;
    }
    return lone;
}

struct KnownDistance {
    const char* fen;
    int plies;
};
// By hand: a king takes the lone king at once (either colour); the lone king takes all four
// kings; the lone king in the corner, hemmed in; every move of it along its one diagonal
// taken by the king at the other end; its capture along it taken back the same way. Three
// and two kings: the capture at once, the corner hemmed in; a lone king that takes one of two
// kings has escaped.
const KnownDistance distances[] = {
    {"W:WK1,K2,K3,K28:BK23", 1},  {"B:WK23:BK28,K48,K49,K50", 1}, {"B:WK23,K24,K34,K44:BK50", 255},
    {"B:WK1,K2,K37,K41:BK46", 0}, {"B:WK1,K2,K3,K5:BK46", 2},     {"B:WK1,K2,K5,K41:BK46", 2},
    {"W:WK1,K2,K28:BK23", 1},     {"B:WK1,K37,K41:BK46", 0},      {"W:WK1,K28:BK23", 1},
    {"B:WK37,K41:BK46", 0},       {"B:WK23,K50:BK28", 255},
};

TEST(Kings, TableAgreesWithHandAndSearchAndTheSearchShortensTheWin) {
    ASSERT_FALSE(generate_kings(false));
    for (const KnownDistance& row : distances) {
        int white = 1;
        const Position p = fen(row.fen, &white);
        ASSERT_TRUE(kings_against_one(p)) << row.fen;
        EXPECT_EQ(probe_kings(p, white), row.plies) << row.fen;
    }
    // Short wins (and a few longer ones and the lone king's escapes) against the search, in
    // each table.
    std::mt19937 rng(7);
    int short_wins = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const bool lone = trial % 2;
        const int n = 2 + trial / 2 % 3;
        const uint64_t i = rng() % kings_half_of(n);
        Position p;
        if (endgame_position(lone ? EndgameSlice{0, 1, 0, n} : EndgameSlice{0, n, 0, 1}, i, p))
            continue;
        const int d = kings_table[kings_offset(n) + (lone ? kings_half_of(n) : 0) + i];
        ASSERT_EQ(kings_entry(p, 1), kings_offset(n) + (lone ? kings_half_of(n) : 0) + i);
        const int depth = lone ? 4 : 3;
        EXPECT_EQ(d <= depth, kings_win_within(p, 1, depth, lone)) << "trial " << trial;
        if (d <= depth) {
            EXPECT_FALSE(d > 0 && kings_win_within(p, 1, d - 1, lone)) << "trial " << trial;
            short_wins += d > 1;
        }
    }
    EXPECT_GT(short_wins, 20);
    // The search plays the shortest win: its score is the table's at the root.
    int white = 1;
    const Position root = fen("W:WK4,K18,K23,K47:BK17", &white);
    SearchLimits limits;
    limits.max_nodes = 20000;
    ASSERT_FALSE(search_init(8));
    search_clear();
    EXPECT_EQ(search_position(root, 1, limits).score, score_known_win - probe_kings(root, 1));
    // So with three kings, either side to move; and where the table finds no win, a draw.
    for (int lone = 0; lone < 2; ++lone) {
        bool won = false, not_won = false;
        for (uint64_t i = 0; i < kings_half_of(3) && !(won && not_won); i += 97) {
            Position p;
            // (A lone king taking two kings leaves one against one, which no table holds.)
            if (endgame_position(lone ? EndgameSlice{0, 1, 0, 3} : EndgameSlice{0, 3, 0, 1}, i,
                                 p) ||
                (lone && side_has_capture(p, 1)))
                continue;
            const int d = kings_table[kings_offset(3) + (lone ? kings_half_of(3) : 0) + i];
            if (d == kings_not_won ? not_won : won || d < 3) continue;
            (d == kings_not_won ? not_won : won) = true;
            search_clear();
            EXPECT_EQ(search_position(p, 1, limits).score,
                      d == kings_not_won ? 0 : (lone ? -1 : 1) * (score_known_win - d))
                << "lone " << lone << " index " << i;
        }
        EXPECT_TRUE(won && not_won);
    }
    // The rules count 16 moves a side from the first position of three pieces against the
    // lone king, a crowning on the way notwithstanding: after h plies of two kings and a man,
    // crowned by the last move, the win stands when h + its plies <= 32; beyond, a draw.
    Position after_crowning{}, earlier{};
    int to_win = 0;
    for (uint64_t i = 0; i < kings_half_of(3) && !to_win; i += 101) {
        const int d = kings_table[kings_offset(3) + kings_half_of(3) + i];
        if (d < 4 || d > 12 || endgame_position(EndgameSlice{0, 1, 0, 3}, i, after_crowning))
            continue;
        for (int s = 0; s < 45 && !to_win; ++s) { // a king off black's crowning row, once a man
            if (!(after_crowning.black & square_mask[s])) continue;
            earlier = after_crowning;
            earlier.kings &= ~square_mask[s];
            to_win = d;
        }
    }
    ASSERT_TRUE(to_win);
    Position game_before[32];
    for (int h = 32 - to_win; h <= 33 - to_win; ++h) {
        for (int i = 0; i < h; ++i) game_before[i] = earlier;
        search_clear();
        EXPECT_EQ(search_position(after_crowning, 1, limits, game_before, h).score,
                  h + to_win <= 32 ? to_win - score_known_win : 0)
            << h << " plies before";
    }
    // Against the lone king a man looks better the nearer it is to its crowning, and crowned
    // better still; all are near-won, below the table.
    const int crowned = evaluate(fen("W:WK4,K18,K23,K47:BK17"), 1),
              man = evaluate(fen("W:W9,K18,K23,K47:BK17"), 1),
              back = evaluate(fen("W:W48,K18,K23,K47:BK17"), 1);
    EXPECT_GT(crowned, man);
    EXPECT_GT(man, back + 50);
    EXPECT_GT(man, 1000);
    EXPECT_LT(crowned, 2000);
    // Without the table the usual score stands, lest the search stop looking for its wins.
    uint8_t* const table = kings_table;
    kings_table = nullptr;
    EXPECT_LT(evaluate(fen("W:W9,K18,K23,K47:BK17"), 1), 1000);
    kings_table = table;
    // The file read back; absent or not a table, what was loaded stays.
    const std::string path = testing::TempDir() + "kings-test.bin";
    ASSERT_FALSE(write_kings(path.c_str()));
    const int before = probe_kings(root, 1);
    ASSERT_FALSE(load_kings(path.c_str()));
    EXPECT_EQ(probe_kings(root, 1), before);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(load_kings("no-such-kings.bin"));
    EXPECT_TRUE(load_kings(UNIT_DATA "/../support.h"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No table of kings against a lone king (no-such-kings.bin): playing without it.\n"
              "The table of kings against a lone king (" UNIT_DATA "/../support.h) is not usable: "
              "playing without it.\n");
    EXPECT_EQ(probe_kings(root, 1), before);
    std::remove(path.c_str());
    delete[] kings_table;
    kings_table = nullptr;
}

} // namespace
