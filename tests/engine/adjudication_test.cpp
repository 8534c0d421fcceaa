// The judgement of a position after the client's move, and the run of drawn scores.
#include "tests/engine/engine_test_support.h"

namespace {

// Black men on 1 upwards, white men on 50 downwards: never in contact up to 20 a side.
Position men(int black, int white) {
    Position position{};
    for (int s = 1; s <= black; ++s) position.black |= square_mask[s - 1];
    for (int s = 50; s > 50 - white; --s) position.white |= square_mask[s - 1];
    return position;
}

class AdjudicationTest : public EngineTest {
  protected:
    int judge(const Position& position, bool kavro_white, int32_t score, std::string& printed) {
        OutputCapture output;
        const int result = adjudicate_position(position, kavro_white, score);
        printed = output.text();
        return result;
    }
};

// Each case starts from the given draw count; printed and the count after are checked unless
// null / -1.
TEST_F(AdjudicationTest, PiecesCapturesAndScoresDecide) {
    const Position capture = position_of_board(board_from_fen("W:W28,32:B23,1")); // white takes
    struct Case {
        Position position;
        bool kavro_white;
        int32_t score;
        int count_before, result;
        const char* printed;
        int count_after;
    } cases[] = {
        // A side without pieces has lost whatever the score, the run of draws kept.
        {men(0, 3), true, -500, 3, result_kavro_won, "", 3},
        {men(0, 3), false, 500, 3, result_kavro_lost, "", 3},
        {men(3, 0), true, 0, 3, result_kavro_lost, "", 3},
        {men(3, 0), false, 0, 3, result_kavro_won, "", 3},
        // Kavro to capture is never decided; black cannot capture there: the score decides.
        {capture, true, 500, 2, result_undecided, "", 2},
        {capture, true, 0, 2, result_undecided, "", 2},
        {capture, false, -300, 0, result_kavro_lost, nullptr, -1},
        // More than fourteen pieces end the run silently.
        {men(8, 7), true, 0, 4, result_undecided, "", 0},
        {men(8, 7), true, 900, 0, result_undecided, nullptr, -1},
        // Large scores decide from fourteen pieces down.
        {men(7, 7), true, 270, 0, result_kavro_won, nullptr, -1},
        {men(7, 7), false, -270, 0, result_kavro_lost, nullptr, -1},
        {men(7, 7), true, -269, 2, result_undecided, "", 0},
        // Small endgames are drawn on small scores.
        {men(4, 4), true, 0, 0, result_draw, "Draw count 1\n", -1},
        {men(5, 5), true, 7, 1, result_undecided, nullptr, 0}, // 10 pieces
        {men(5, 4), true, -3, 0, result_undecided, nullptr, -1},
        {men(4, 4), true, -3, 0, result_draw, nullptr, -1},
        {men(4, 4), false, -10, 0, result_draw, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << piece_count(c.position) << " pieces, score " << c.score);
        draw_count = c.count_before;
        std::string printed;
        EXPECT_EQ(judge(c.position, c.kavro_white, c.score, printed), c.result);
        if (c.printed) {
            EXPECT_EQ(printed, c.printed);
        }
        if (c.count_after >= 0) {
            EXPECT_EQ(draw_count, c.count_after);
        }
    }
}

TEST_F(AdjudicationTest, FiveZeroScoresInARowAreADraw) {
    std::string printed;
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(judge(men(6, 6), i % 2 == 0, 0, printed),
                  i >= 5 ? result_draw : result_undecided);
        EXPECT_EQ(printed, "Draw count " + std::to_string(i) + "\n");
    }
    // A non-zero score breaks the run.
    EXPECT_EQ(judge(men(6, 6), true, 7, printed), result_undecided);
    EXPECT_EQ(draw_count, 0);
    EXPECT_EQ(judge(men(6, 6), true, 0, printed), result_undecided);
    EXPECT_EQ(printed, "Draw count 1\n");
}

TEST_F(AdjudicationTest, PonderScoreDecidesTheRestAndItsFailureDecidesNothing) {
    std::string printed;
    kavro.process.poke_int16(kavro_score, -4);
    EXPECT_EQ(judge(men(3, 3), true, 12, printed), result_draw);
    EXPECT_EQ(printed, "Using ponder score -4\n");
    kavro.process.poke_int16(kavro_score, 5);
    EXPECT_EQ(judge(men(3, 3), true, -200, printed), result_draw);
    EXPECT_EQ(printed, "Using ponder score 5\n");
    for (int ponder : {6, -6}) {
        kavro.process.poke_int16(kavro_score, int16_t(ponder));
        EXPECT_EQ(judge(men(3, 3), true, 12, printed), result_undecided);
        EXPECT_EQ(printed, "");
    }
    kavro.process.poke_int16(kavro_score, 0);
    kavro.process.fail_reads_in(kavro_score, 2);
    EXPECT_EQ(judge(men(3, 3), true, 12, printed), result_undecided);
    EXPECT_EQ(printed, "ReadProcessMemory; Input/output error\n");
}

} // namespace
