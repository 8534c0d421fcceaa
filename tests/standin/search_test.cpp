// The stand-in's search and evaluation as a library: tactics it must find, legality of every
// move and line it gives, the side its score belongs to, and repetitions.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "board/fen.h"
#include "board/movegen.h"
#include "standin/search.h"

namespace {

class Search : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_FALSE(search_init(8)); }
    void SetUp() override { search_clear(); }
};

Position from_fen(const char* fen, int& white_to_move) {
    Position p{};
    char error[128];
    EXPECT_FALSE(parse_fen(fen, p, white_to_move, error, sizeof error)) << error;
    return p;
}

// Material for the side to move, in men (a king counts three): the referee below.
int material(const Position& p, int white_to_move) {
    int white = std::popcount(p.white & ~p.kings) + 3 * std::popcount(p.white & p.kings);
    int black = std::popcount(p.black & ~p.kings) + 3 * std::popcount(p.black & p.kings);
    return white_to_move ? white - black : black - white;
}

// A plain material-only minimax that plays captures out: independent of the engine, it tells
// what a move wins by force within its depth.
int referee(const Position& p, int white_to_move, int depth, int alpha, int beta, int ply) {
    static MoveList lists[64];
    MoveList& list = lists[ply];
    int count = generate_captures(p, white_to_move, list, nullptr);
    if (count == 0) {
        if (depth <= 0) return material(p, white_to_move);
        count = generate_quiet_moves(p, white_to_move, list);
        if (count == 0) return -100;
    }
    for (int i = 0; i < count; ++i) {
        int score = -referee(list.entries[i], !white_to_move, depth - 1, -beta, -alpha, ply + 1);
        if (score > alpha) alpha = score;
        if (alpha >= beta) break;
    }
    return alpha;
}

int referee_after(const Position& after, int mover, int depth) {
    return -referee(after, !mover, depth, -1000, 1000, 1);
}

bool is_legal(const Position& before, int white_to_move, const Position& after) {
    static MoveList list;
    int count = legal_moves(before, white_to_move, list);
    for (int i = 0; i < count; ++i)
        if (list.entries[i] == after) return true;
    return false;
}

// Quiet positions from random games where one move, and only one or two, wins material by
// force within six plies, and a two-ply look does not see it.
const char* const tactics[] = {
    "W:W27,28,29,31,36,38,39,40,41,42,44,45,46,47,48,49,50:B1,2,4,5,6,7,8,9,10,11,14,15,17,18,19.",
    "B:W12,16,18,28,37,38,39,41,42,44,45,47,49,50:B1,2,5,7,10,11,15,29.",
    "W:W14,36,37,40,41,42,44,46,49,50:B2,5,6,11,12,15,17.",
    "B:W26,35,40,42,47,48,49:B1,2,3,4,5,6,7,8,13,14,15,17,18,39.",
    ("W:W24,31,32,34,35,36,37,38,39,40,41,42,43,45,46,48,49:B1,2,3,4,5,6,7,11,12,13,14,15,16,"
     "17,22,25,26."),
    "B:W29,31,32,33,35,36,37,40,41,42,43,45,46,47,48,50:B1,2,3,4,5,6,7,10,11,12,13,15,16,18,20,22.",
};

TEST_F(Search, FindsForcedWinsOfMaterial) {
    for (const char* fen : tactics) {
        int white_to_move = 1;
        Position p = from_fen(fen, white_to_move);
        const int before = material(p, white_to_move);
        // The position is a real test: some legal move does not win anything.
        static MoveList list;
        int count = legal_moves(p, white_to_move, list);
        int losing_or_level = 0;
        for (int i = 0; i < count; ++i)
            if (referee_after(list.entries[i], white_to_move, 5) <= before) ++losing_or_level;
        ASSERT_GT(losing_or_level, 0) << fen;

        SearchLimits limits;
        limits.max_depth = 9;
        SearchReport report = search_position(p, white_to_move, limits);
        ASSERT_TRUE(report.has_move) << fen;
        EXPECT_GE(referee_after(report.best, white_to_move, 5), before + 2)
            << fen << ": the chosen move does not win two men";
        EXPECT_GT(report.score, 100 * before + 100) << fen;
    }
}

TEST_F(Search, ForcedWinOfTheGameIsScoredAsAWin) {
    int white_to_move = 1;
    // The white man takes the last black piece.
    Position p = from_fen("W:W28:B23.", white_to_move);
    SearchLimits limits;
    limits.max_depth = 10;
    SearchReport report = search_position(p, white_to_move, limits);
    EXPECT_EQ(report.score, score_win - 1);
    EXPECT_EQ(report.best, from_fen("B:W19:B.", white_to_move));
    // Seen from the loser's side: the black man's every step is taken.
    p = from_fen("B:W28:B18.", white_to_move);
    report = search_position(p, white_to_move, limits);
    EXPECT_LE(report.score, -score_won_threshold);
}

TEST_F(Search, NoLegalMoveMeansNoMoveAndALoss) {
    int white_to_move = 1;
    Position p = from_fen("W:W46:B41,37.", white_to_move); // the man on 46 is blocked
    static MoveList list;
    ASSERT_EQ(legal_moves(p, 1, list), 0);
    SearchLimits limits;
    limits.max_depth = 4;
    SearchReport report = search_position(p, white_to_move, limits);
    EXPECT_FALSE(report.has_move);
    EXPECT_EQ(report.score, -score_win);
}

uint64_t random_state = 0x853C49E6748FEA9Bull;
uint32_t next_random() {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 7;
    random_state ^= random_state << 17;
    return uint32_t(random_state >> 32);
}

// Positions reached by random play, kings and captures among them.
template <class Visit> void random_positions(int games, Visit visit) {
    static MoveList list;
    for (int g = 0; g < games; ++g) {
        int white_to_move = 1;
        Position p = from_fen("W:W31-50:B1-20.", white_to_move);
        int plies = int(next_random() % 150);
        for (int k = 0; k < plies; ++k) {
            int count = legal_moves(p, white_to_move, list);
            if (count == 0) break;
            p = list.entries[next_random() % uint32_t(count)];
            white_to_move = !white_to_move;
        }
        visit(p, white_to_move);
    }
}

TEST_F(Search, EveryMoveAndEveryLineItGivesIsLegal) {
    int with_kings = 0, with_captures = 0;
    random_positions(150, [&](const Position& p, int white_to_move) {
        with_kings += p.kings != 0;
        with_captures += side_has_capture(p, white_to_move);
        SearchLimits limits;
        limits.max_depth = 5;
        limits.max_nodes = 20000;
        SearchReport report = search_position(p, white_to_move, limits);
        static MoveList list;
        ASSERT_EQ(report.has_move, legal_moves(p, white_to_move, list) > 0);
        if (!report.has_move) return;
        ASSERT_TRUE(is_legal(p, white_to_move, report.best));
        ASSERT_GE(report.line.length, 1);
        EXPECT_EQ(report.line.after[0], report.best);
        Position before = p;
        int side = white_to_move;
        for (int k = 0; k < report.line.length; ++k) {
            ASSERT_TRUE(is_legal(before, side, report.line.after[k])) << "line move " << k;
            before = report.line.after[k];
            side = !side;
        }
    });
    // The sample did reach the interesting cases.
    EXPECT_GT(with_kings, 10);
    EXPECT_GT(with_captures, 10);
}

// The board turned round with the colours swapped: the same game for the other side.
Position mirrored(const Position& p) {
    auto turn = [](uint64_t mask) {
        uint64_t out = 0;
        for (int s = 1; s <= 50; ++s)
            if (mask & square_mask[s - 1]) out |= square_mask[50 - s];
        return out;
    };
    return Position{turn(p.white), turn(p.black), turn(p.kings)};
}

TEST_F(Search, ScoreBelongsToTheSideToMove) {
    int checked = 0;
    random_positions(200, [&](const Position& p, int white_to_move) {
        EXPECT_EQ(evaluate(p, 1), -evaluate(p, 0));
        EXPECT_EQ(evaluate(p, white_to_move), evaluate(mirrored(p), !white_to_move));
        ++checked;
    });
    EXPECT_EQ(checked, 200);

    // A king up in a quiet position, searched for either side to move.
    int side = 1;
    Position p = from_fen("W:WK46,31,32,33:B18,19,20.", side);
    SearchLimits limits;
    limits.max_depth = 6;
    EXPECT_GT(search_position(p, 1, limits).score, 150);
    EXPECT_LT(search_position(p, 0, limits).score, -150);
    EXPECT_EQ(search_position(p, 1, limits).score, search_position(mirrored(p), 0, limits).score);
}

TEST_F(Search, ReturningToAPositionOfTheGameCountsAsADraw) {
    // Endings where white is well ahead and its choice, x, is a king move that a black king
    // move y can answer: after x and y a position of the game may come back.
    for (const char* fen : {"W:WK27,42,44,45,49,50:BK5,15.", "W:WK17,26,27:BK20."}) {
        int white_to_move = 1;
        const Position root = from_fen(fen, white_to_move);
        SearchLimits limits;
        limits.max_depth = 6;
        search_clear();
        const SearchReport free_choice = search_position(root, white_to_move, limits);
        ASSERT_GT(free_choice.score, 300) << fen;
        const Position x = free_choice.best;
        ASSERT_FALSE(move_is_irreversible(root, x, 1)) << fen;
        static MoveList replies;
        const int count = legal_moves(x, 0, replies);
        int reply = 0;
        while (reply < count && move_is_irreversible(x, replies.entries[reply], 0)) ++reply;
        ASSERT_LT(reply, count) << fen;
        const Position y = replies.entries[reply];

        // The game: h0 (white to move) -> h1 (black to move) -> root, where h0 is the root
        // after x and y, and h1 the root after y alone. Playing x lets black repeat h0.
        const uint64_t y_from = x.black & ~y.black, y_to = y.black & ~x.black;
        Position h1 = root;
        h1.black = (h1.black & ~y_from) | y_to;
        h1.kings = (h1.kings & ~y_from) | y_to;
        const Position game[2] = {y, h1};
        search_clear();
        const SearchReport with_game = search_position(root, white_to_move, limits, game, 2);
        EXPECT_NE(with_game.best, x) << fen << ": x only draws now";
        EXPECT_GT(with_game.score, 300) << fen;

        // The same positions with the other side to move are no repetition.
        const Position other_sides[2] = {h1, y};
        search_clear();
        const SearchReport control = search_position(root, white_to_move, limits, other_sides, 2);
        EXPECT_EQ(control.best, x) << fen;
        EXPECT_EQ(control.score, free_choice.score) << fen;
    }
}

struct StopCounter {
    int polls_left;
    int iterations;
    int last_depth;
    bool depths_increase;
    Position root;
    int white_to_move;
};

TEST_F(Search, StopsWhenToldAndReportsEachIteration) {
    int white_to_move = 1;
    Position p = from_fen("W:W31-50:B1-20.", white_to_move);
    StopCounter counter{3, 0, 0, true, p, 1};
    SearchLimits limits;
    limits.max_depth = 60;
    limits.context = &counter;
    limits.should_stop = [](void* context, bool) {
        return --static_cast<StopCounter*>(context)->polls_left < 0;
    };
    limits.on_iteration = [](const SearchReport& report, void* context) {
        auto* c = static_cast<StopCounter*>(context);
        ++c->iterations;
        if (report.depth != c->last_depth + 1) c->depths_increase = false;
        c->last_depth = report.depth;
        EXPECT_TRUE(is_legal(c->root, c->white_to_move, report.best));
    };
    SearchReport report = search_position(p, white_to_move, limits);
    EXPECT_TRUE(report.has_move);
    EXPECT_TRUE(is_legal(p, 1, report.best));
    EXPECT_LT(report.depth, 60);
    EXPECT_EQ(counter.iterations, report.depth);
    EXPECT_TRUE(counter.depths_increase);

    // Told to stop before anything: still a legal move to play.
    limits.should_stop = [](void*, bool) { return true; };
    limits.on_iteration = nullptr;
    report = search_position(p, white_to_move, limits);
    EXPECT_TRUE(report.has_move);
    EXPECT_TRUE(is_legal(p, 1, report.best));
}

} // namespace
