// Watching Kavro: the analysis line, the board wait and the position text.
#include <cstring>

#include "tests/engine/engine_test_support.h"

namespace {

std::vector<std::string> relayed;
void relay(const char* line) {
    relayed.emplace_back(line);
}

class ObservationTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        relayed.clear();
    }
    std::string text_of(const ByteBoard& board, int32_t colour) {
        char text[200];
        position_text(board, colour, text);
        return text;
    }
};

TEST_F(ObservationTest, AnalysisLineIsPrintedAndRelayedOncePerChange) {
    kavro.set_analysis({40, 25, 35, 99}, {35, 30, 89}, 15);
    OutputCapture output;
    EXPECT_FALSE(read_kavro_analysis(relay));
    EXPECT_FALSE(read_kavro_analysis(relay)); // the same line again: silent
    kavro.set_analysis({99}, {}, -35);
    EXPECT_FALSE(read_kavro_analysis(relay));
    kavro.set_analysis({99, 40}, {35}, 270);
    EXPECT_FALSE(read_kavro_analysis(nullptr));
    EXPECT_EQ(output.text(), "value 0.15, pv 32-28 19-23 28x19 \nvalue -0.35, pv \n"
                             "value 2.70, pv \n");
    EXPECT_EQ(relayed,
              (std::vector<std::string>{"value 0.15, pv 32-28 19-23 28x19 ", "value -0.35, pv "}));
    EXPECT_STREQ(last_analysis_text, "value 2.70, pv ");
    EXPECT_EQ(last_analysis_score, 270);
}

TEST_F(ObservationTest, AnalysisLineHoldsAllTwentyFourMovesAndShowsNoSquareAsZero) {
    kavro.set_analysis(std::vector<uint8_t>(24, 59), std::vector<uint8_t>(24, 58 | 0x40), -32768);
    OutputCapture output;
    EXPECT_FALSE(read_kavro_analysis(nullptr));
    std::string expected = "value -327.68, pv ";
    for (int i = 0; i < 24; ++i) expected += "50x49 ";
    EXPECT_EQ(expected.size(), 162u); // the longest line there is
    EXPECT_EQ(output.text(), expected + "\n");

    kavro.set_analysis({16, 0x7f}, {27 | 0x40, 6}, 1);
    EXPECT_FALSE(read_kavro_analysis(nullptr));
    EXPECT_STREQ(last_analysis_text, "value 0.01, pv 0x0 0-1 ");
}

TEST_F(ObservationTest, FailedAnalysisReadKeepsTheLastLine) {
    kavro.set_analysis({40, 99}, {35}, 3);
    EXPECT_FALSE(read_kavro_analysis(nullptr));
    for (uint32_t address : {kavro_analysis_from, kavro_analysis_to, kavro_score}) {
        kavro.process.failures.clear();
        kavro.process.fail_reads_in(address, 1);
        kavro.set_analysis({99}, {}, -7);
        OutputCapture output;
        EXPECT_TRUE(read_kavro_analysis(relay));
        EXPECT_EQ(output.text(), "ReadProcessMemory; Input/output error\n");
    }
    EXPECT_STREQ(last_analysis_text, "value 0.03, pv 32-28 ");
    EXPECT_EQ(last_analysis_score, 3);
    EXPECT_TRUE(relayed.empty());
}

TEST_F(ObservationTest, ABoardThatAlreadyDiffersEndsTheWaitAfterOnePauseWithoutAnalysis) {
    pause_scale_percent = 100;
    const ByteBoard reference = board_from_fen("W:W31:B20");
    const ByteBoard shown = board_from_fen("B:W27:B20");
    kavro.show_board(shown, 0);
    kavro.set_analysis({40, 99}, {35}, 3);
    OutputCapture output;
    const int64_t start = clock_ms();
    EXPECT_FALSE(waitfor_kavro_board_change(reference, 'W', 0, relay, nullptr));
    const int64_t elapsed = clock_ms() - start;
    EXPECT_GE(elapsed, 500);
    EXPECT_LT(elapsed, 800);
    EXPECT_EQ(output.text(), "waitfor_kavro_board_change\nW:W31:B20.\nB:W27:B20.\n");
    EXPECT_EQ(kavro.process.count_reads(kavro_analysis_from, 1), 0);
    EXPECT_EQ(kavro.process.count_reads(kavro_game_board, 50), 2);
    EXPECT_TRUE(relayed.empty());
}

TEST_F(ObservationTest, TimeLimitEndsTheWaitAfterTheFirstPausePastIt) {
    // Pauses of 350 ms: the third ends 50 ms past the limit, the second 300 ms before it.
    pause_scale_percent = 350;
    const ByteBoard reference = kavro.game_board();
    OutputCapture output;
    const int64_t start = clock_ms();
    EXPECT_TRUE(waitfor_kavro_board_change(reference, 'Z', 1000, nullptr, nullptr));
    const int64_t elapsed = clock_ms() - start;
    EXPECT_EQ(output.text(),
              "waitfor_kavro_board_change\n" + text_of(reference, 'Z') + "value 0.00, pv \n");
    EXPECT_GT(elapsed, 1000);
    EXPECT_LT(elapsed, 1300);
    // One look at the board and at the analysis before each pause.
    EXPECT_EQ(kavro.process.count_reads(kavro_game_board, 50), 3);
    EXPECT_EQ(kavro.process.count_reads(kavro_score, 2), 3);
}

TEST_F(ObservationTest, WaitRelaysEachNewAnalysisLineUntilTheBoardChanges) {
    const ByteBoard reference = standard_start_board();
    const ByteBoard moved = board_from_fen("B:W28,31,33-50:B1-20");
    int looks = 0;
    kavro.process.before_read = [&](FakeEngineProcess&, uint32_t address, size_t) {
        if (address != kavro_game_board) return;
        ++looks;
        if (looks <= 4) kavro.set_analysis({40, 99}, {35}, int16_t(looks / 2)); // 0,1,1,2
        if (looks == 5) kavro.show_board(moved, 0);
    };
    OutputCapture output;
    EXPECT_FALSE(waitfor_kavro_board_change(reference, 'W', 0, relay, nullptr));
    EXPECT_EQ(output.text(), "waitfor_kavro_board_change\n" + text_of(reference, 'W') +
                                 "value 0.00, pv 32-28 \nvalue 0.01, pv 32-28 \n"
                                 "value 0.02, pv 32-28 \n" +
                                 text_of(moved, 'Z'));
    EXPECT_EQ(relayed.size(), 3u);
    EXPECT_EQ(looks, 6);
}

TEST_F(ObservationTest, UnreadableKavroStopsTheWait) {
    const ByteBoard reference = kavro.game_board();
    kavro.process.fail_reads_in(kavro_game_board, 50, 3);
    {
        OutputCapture output;
        EXPECT_THROW(waitfor_kavro_board_change(reference, 'W', 0, nullptr, nullptr), FatalStop);
        EXPECT_TRUE(ends_with(output.text(), "ReadProcessMemory; Input/output error\n"));
    }
    kavro.process.failures.clear();
    kavro.process.fail_reads_in(kavro_score, 2, 2);
    {
        OutputCapture output;
        EXPECT_THROW(waitfor_kavro_board_change(reference, 'W', 0, nullptr, nullptr), FatalStop);
        EXPECT_TRUE(ends_with(output.text(), "ReadProcessMemory; Input/output error\n"));
    }
    // The final look after a change fails too.
    kavro.process.failures.clear();
    kavro.process.fail_reads_in(kavro_game_board, 50, 1);
    kavro.show_board(board_from_fen("W:W50:B1"), 1);
    OutputCapture output;
    EXPECT_THROW(waitfor_kavro_board_change(reference, 'W', 0, nullptr, nullptr), FatalStop);
    EXPECT_TRUE(ends_with(output.text(), "ReadProcessMemory; Input/output error\n"));
}

TEST_F(ObservationTest, PositionText) {
    ByteBoard board{};
    board[31 - 1] = 1;
    board[32 - 1] = 1;
    board[45 - 1] = 2;
    board[20 - 1] = -1;
    EXPECT_EQ(text_of(board, 'Z'), "B:W31,32,K45:B20.\n");
    EXPECT_EQ(text_of(board, 0), "B:W31,32,K45:B20.\n");
    board[3 - 1] = -2;
    board[31 - 1] = 7; // not a piece
    EXPECT_EQ(text_of(board, 'W'), "W:W32,K45:BK3,20.\n");
    EXPECT_EQ(text_of(ByteBoard{}, 'W'), "W:W:B.\n");
    const std::string start = text_of(standard_start_board(), 'W');
    EXPECT_EQ(start.rfind("W:W31,32,", 0), 0u);
    EXPECT_TRUE(ends_with(start, ":B1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20.\n"));
    // Every square a king: the longest text, which must fit the 200 bytes.
    ByteBoard kings;
    kings.fill(2);
    char text[201];
    text[199] = 'x';
    text[200] = 'y';
    position_text(kings, 'W', text);
    EXPECT_EQ(strlen(text), 197u);
    EXPECT_EQ(text[200], 'y');
}

} // namespace
