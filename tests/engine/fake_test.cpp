// The fake engine process and its simple Kavro, on which the server's tests rely.
#include "tests/engine/engine_test_support.h"

namespace {

TEST(FakeProcessTest, RegionBoundsFailureRulesAndLog) {
    FakeEngineProcess fake;
    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_FALSE(fake.write_memory(fake_region_end - 4, bytes, 4));
    EXPECT_EQ(fake.byte_at(fake_region_end - 1), 4);
    EXPECT_TRUE(fake.read_memory(fake_region_end - 3, bytes, 4));
    EXPECT_TRUE(fake.write_memory(fake_region_begin - 1, bytes, 2));
    char text[256];
    last_error_text(text, sizeof text);
    EXPECT_STREQ(text, "Bad address");

    // The second and third score reads fail, the rest pass; other addresses are untouched.
    fake.fail_reads_in(kavro_score, 2, 1, 2);
    std::vector<bool> failed;
    for (int i = 0; i < 5; ++i) {
        failed.push_back(fake.read_memory(kavro_score, bytes, 2));
        EXPECT_FALSE(fake.read_memory(kavro_game_board, bytes, 4));
    }
    EXPECT_EQ(failed, (std::vector<bool>{false, true, true, false, false}));

    fake.accesses_before_failure = 2;
    EXPECT_FALSE(fake.read_memory(kavro_game_board, bytes, 1));
    EXPECT_FALSE(fake.write_memory(kavro_game_board, bytes, 1));
    EXPECT_TRUE(fake.write_memory(kavro_command_text, "kca", 4));
    EXPECT_TRUE(fake.read_memory(kavro_game_board, bytes, 1));
    const FakeAccess last_write = fake.writes().back();
    EXPECT_TRUE(last_write.failed);
    EXPECT_EQ(last_write.bytes, (std::vector<uint8_t>{'k', 'c', 'a', 0}));
    EXPECT_EQ(fake.byte_at(kavro_command_text), 0);
}

class FakeKavroTest : public EngineTest {};

TEST_F(FakeKavroTest, NewGameColoursTypedMovesAndReplies) {
    const ByteBoard setup = board_from_fen("W:W31,32,33:B18,19");
    kavro.set_setup_board(setup);
    OutputCapture output;
    ASSERT_FALSE(type_kavro_command("n"));
    EXPECT_EQ(kavro.game_board(), setup);
    ASSERT_FALSE(type_kavro_command("kac"));
    EXPECT_TRUE(kavro.plays_black());
    EXPECT_FALSE(kavro.plays_white());
    ASSERT_FALSE(type_kavro_command("32-27"));
    // Black replied at once with its first legal move, shown as its analysis line.
    EXPECT_EQ(kavro.replies_made, 1);
    EXPECT_EQ(kavro.white_to_move, 1);
    const Position after = position_of_board(kavro.game_board());
    EXPECT_EQ(after.white, position_of_board(board_from_fen("W:W27,31,33:B1")).white);
    EXPECT_EQ(piece_count(after), 5);
    EXPECT_FALSE(read_kavro_analysis(nullptr));
    EXPECT_EQ(std::string(last_analysis_text).rfind("value 0.00, pv ", 0), 0u);
    // Nonsense and illegal moves change nothing.
    const ByteBoard shown = kavro.game_board();
    for (const char* command : {"31-22", "31", "31-26x", "x", "60-55", "31-26-22"})
        ASSERT_FALSE(type_kavro_command(command));
    EXPECT_EQ(kavro.game_board(), shown);
    EXPECT_EQ(kavro.replies_made, 1);
    output.text();
}

TEST_F(FakeKavroTest, JumpedSquareChoosesBetweenCapturesToTheSameSquare) {
    const ByteBoard start = board_from_fen("W:WK13:B18,30,32,37");
    for (const char* command : {"13-32-25", "13-37-25", "13-25"}) {
        kavro.show_board(start, 1);
        OutputCapture output;
        ASSERT_FALSE(type_kavro_command(command));
        output.text();
        const ByteBoard board = kavro.game_board();
        EXPECT_EQ(board[25 - 1], 2) << command;
        const bool kept_37 = board[37 - 1] == -1, kept_32 = board[32 - 1] == -1;
        EXPECT_NE(kept_37, kept_32) << command;
        if (std::string(command) == "13-32-25") {
            EXPECT_TRUE(kept_37);
        }
        if (std::string(command) == "13-37-25") {
            EXPECT_TRUE(kept_32);
        }
    }
}

TEST_F(FakeKavroTest, ScriptedAndDelayedReplies) {
    const ByteBoard scripted = board_from_fen("W:W50:B1");
    kavro.replies.push_back(scripted);
    kavro.reply_after_board_reads = 2;
    OutputCapture output;
    ASSERT_FALSE(type_kavro_command("kac"));
    ASSERT_FALSE(type_kavro_command("32-28"));
    ByteBoard board;
    ASSERT_FALSE(read_kavro_board(board)); // the typed move shows first
    EXPECT_EQ(board[28 - 1], 1);
    ASSERT_FALSE(read_kavro_board(board));
    EXPECT_EQ(board, scripted);
    EXPECT_EQ(kavro.replies_made, 1);
    EXPECT_TRUE(kavro.replies.empty());
    output.text();
}

} // namespace
