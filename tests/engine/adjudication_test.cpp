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

TEST_F(AdjudicationTest, ASideWithoutPiecesHasLostWhateverTheScore) {
    std::string printed;
    draw_count = 3;
    EXPECT_EQ(judge(men(0, 3), true, -500, printed), result_kavro_won);
    EXPECT_EQ(judge(men(0, 3), false, 500, printed), result_kavro_lost);
    EXPECT_EQ(judge(men(3, 0), true, 0, printed), result_kavro_lost);
    EXPECT_EQ(judge(men(3, 0), false, 0, printed), result_kavro_won);
    EXPECT_EQ(draw_count, 3);
    EXPECT_EQ(printed, "");
}

TEST_F(AdjudicationTest, KavroToCaptureIsNeverDecided) {
    std::string printed;
    draw_count = 2;
    const Position position = position_of_board(board_from_fen("W:W28,32:B23,1"));
    EXPECT_EQ(judge(position, true, 500, printed), result_undecided);
    EXPECT_EQ(judge(position, true, 0, printed), result_undecided);
    EXPECT_EQ(draw_count, 2);
    // Black to move cannot capture there: the score decides.
    EXPECT_EQ(judge(position, false, -300, printed), result_kavro_lost);
}

TEST_F(AdjudicationTest, MoreThanFourteenPiecesEndTheRunSilently) {
    std::string printed;
    draw_count = 4;
    EXPECT_EQ(judge(men(8, 7), true, 0, printed), result_undecided);
    EXPECT_EQ(draw_count, 0);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(judge(men(8, 7), true, 900, printed), result_undecided);
}

TEST_F(AdjudicationTest, LargeScoresDecideFromFourteenPiecesDown) {
    std::string printed;
    EXPECT_EQ(judge(men(7, 7), true, 270, printed), result_kavro_won);
    EXPECT_EQ(judge(men(7, 7), false, -270, printed), result_kavro_lost);
    draw_count = 2;
    EXPECT_EQ(judge(men(7, 7), true, -269, printed), result_undecided);
    EXPECT_EQ(draw_count, 0);
    EXPECT_EQ(printed, "");
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

TEST_F(AdjudicationTest, SmallEndgamesAreDrawnOnSmallScores) {
    std::string printed;
    EXPECT_EQ(judge(men(4, 4), true, 0, printed), result_draw);
    EXPECT_EQ(printed, "Draw count 1\n");
    EXPECT_EQ(judge(men(5, 5), true, 7, printed), result_undecided); // 10 pieces
    EXPECT_EQ(draw_count, 0);
    EXPECT_EQ(judge(men(5, 4), true, -3, printed), result_undecided);
    EXPECT_EQ(judge(men(4, 4), true, -3, printed), result_draw);
    EXPECT_EQ(judge(men(4, 4), false, -10, printed), result_draw);
    EXPECT_EQ(printed, "");
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
