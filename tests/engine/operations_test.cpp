// Acting on Kavro: boards and codes, typing, the setup board, launching, the start-up test.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "tests/engine/engine_test_support.h"

namespace {

const std::string io_error = "Input/output error";

std::string text_of(const FakeAccess& write) {
    return std::string(write.bytes.begin(), write.bytes.end());
}

TEST(EngineBoardTest, StandardStartAndSquareCodes) {
    const EngineBoard image = engine_board_of(standard_start_board());
    for (int i = 0; i < 54; ++i) {
        const int expected = i % 11 == 10 ? 3 : i < 21 ? -1 : i < 32 ? 0 : 1;
        EXPECT_EQ(image[i], expected) << "index " << i;
    }
    for (int s = 1; s <= 50; ++s) EXPECT_EQ(square_of_code(code_of_square(s)), s);
    EXPECT_EQ(code_of_square(1), 6);
    EXPECT_EQ(code_of_square(50), 59);
    EXPECT_EQ(square_of_code(25), 19); // 89 & 63: the capture example of the analysis line
    for (int code : {0, 5, 16, 27, 38, 49, 60, 63, 99, -1}) EXPECT_EQ(square_of_code(code), 0);
    EXPECT_EQ(code_of_square(0), 0);
    EXPECT_EQ(code_of_square(51), 0);
}

TEST(EngineFailureLineTest, NamesTheCallAndTheSystemText) {
    OutputCapture output;
    errno = ENOENT;
    report_last_error("CreateProcess");
    errno = 0;
    report_last_error("ReadProcessMemory");
    EXPECT_EQ(output.text(), "CreateProcess; No such file or directory\nReadProcessMemory; \n");
}

TEST(EngineLaunchTest, MissingProgramGivesTheCreateProcessLine) {
    const auto before = std::filesystem::current_path();
    char directory[] = "/tmp/engine_launch_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    std::filesystem::current_path(directory);
    OutputCapture output;
    const bool failed = launch_kavro();
    const std::string text = output.text();
    std::filesystem::current_path(before);
    std::filesystem::remove(directory);
    EXPECT_TRUE(failed);
    EXPECT_EQ(kavro_process, nullptr);
    EXPECT_EQ(text, "CreateProcess; No such file or directory\n");
}

TEST(EngineLaunchTest, StartedProgramIsKeptAndGivenTwoSeconds) {
    const auto before = std::filesystem::current_path();
    char directory[] = "/tmp/engine_launch_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string program = std::string(directory) + "/winkavro.exe";
    FILE* file = fopen(program.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs("#!/bin/sh\nexec sleep 30\n", file);
    fclose(file);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::filesystem::current_path(directory);
    const int64_t start = clock_ms();
    const bool failed = launch_kavro();
    const int64_t elapsed = clock_ms() - start;
    std::filesystem::current_path(before);
    ASSERT_FALSE(failed);
    ASSERT_NE(kavro_process, nullptr);
    const int64_t pid = child_process_id(kavro_process);
    EXPECT_TRUE(process_running(pid));
    end_process_group(pid);
    delete kavro_process;
    kavro_process = nullptr;
    std::filesystem::remove_all(directory);
    EXPECT_GE(elapsed, 2000);
    EXPECT_LT(elapsed, 2500);
}

TEST_F(EngineTest, TypingWritesTextThenBothFlagsAndStopsAtTheFirstFailure) {
    {
        OutputCapture output;
        EXPECT_FALSE(type_kavro_command("31-26"));
        EXPECT_EQ(output.text(), "Kavro command: \"31-26\"\n");
        const auto writes = kavro.process.writes();
        ASSERT_EQ(writes.size(), 3u);
        EXPECT_EQ(writes[0].address, kavro_command_text);
        EXPECT_EQ(text_of(writes[0]), std::string("31-26", 6)); // with its zero byte
        EXPECT_EQ(writes[1].address, kavro_command_flag);
        EXPECT_EQ(writes[2].address, kavro_command_flag2);
        EXPECT_EQ(writes[2].bytes, std::vector<uint8_t>{1});
    }
    // The text, then the first flag, fails: nothing is written after the failure.
    for (uint32_t failing : {kavro_command_text, kavro_command_flag}) {
        kavro.process.clear_log();
        kavro.process.failures.clear();
        kavro.process.fail_writes_in(failing, 1);
        OutputCapture output;
        EXPECT_TRUE(type_kavro_command("kca"));
        EXPECT_EQ(output.text(), "Kavro command: \"kca\"\nWriteProcessMemory; " + io_error + "\n");
        EXPECT_TRUE(kavro.process.log.back().failed);
        EXPECT_EQ(kavro.process.count_writes(kavro_command_flag2, 1), 0);
    }
    EXPECT_EQ(kavro.commands, std::vector<std::string>{"31-26"});
}

TEST_F(EngineTest, LoadingTheBoardWritesTheSetupBoardTypesNewGameAndPauses) {
    pause_scale_percent = 100;
    current_board = board_from_fen("W:W28,K45:B19,K3");
    int64_t start = clock_ms();
    EXPECT_FALSE(load_current_board());
    EXPECT_GE(clock_ms() - start, 500);
    EXPECT_EQ(kavro.setup_board(), current_board);
    EXPECT_EQ(kavro.game_board(), current_board);
    EXPECT_EQ(kavro.commands, std::vector<std::string>{"n"});

    // A failed setup board types nothing; a failed "n" does not pause.
    kavro.process.fail_writes_in(kavro_setup_board, 54, 0, 1);
    OutputCapture output;
    EXPECT_TRUE(load_current_board());
    EXPECT_EQ(output.text(), "WriteProcessMemory; " + io_error + "\n");
    EXPECT_EQ(kavro.commands.size(), 1u);
    kavro.process.fail_writes_in(kavro_command_flag2, 1);
    start = clock_ms();
    EXPECT_TRUE(load_current_board());
    EXPECT_LT(clock_ms() - start, 250);
}

TEST_F(EngineTest, StartUpTestPassesWithAnObedientKavroInTheExactOrder) {
    pause_scale_percent = 100;
    OutputCapture output;
    const int64_t start = clock_ms();
    EXPECT_FALSE(test_kavro_at_start());
    const int64_t elapsed = clock_ms() - start;
    const std::string text = output.text();
    // Seven pauses of 500 ms: before "n", three around the moves, after each board change,
    // before the second "n".
    EXPECT_GE(elapsed, 3500);
    EXPECT_LT(elapsed, 5000);

    std::vector<std::pair<uint32_t, std::string>> seen;
    for (const FakeAccess& write : kavro.process.writes()) {
        ASSERT_FALSE(write.failed);
        seen.emplace_back(write.address, write.address == kavro_command_text
                                             ? text_of(write)
                                             : std::to_string(write.bytes.at(0)));
    }
    const std::vector<std::pair<uint32_t, std::string>> expected = {
        {kavro_player_plays_black, "1"},
        {kavro_player_plays_white, "1"},
        {kavro_command_text, std::string("n", 2)},
        {kavro_command_flag, "1"},
        {kavro_command_flag2, "1"},
        {kavro_command_text, std::string("31-26", 6)},
        {kavro_command_flag, "1"},
        {kavro_command_flag2, "1"},
        {kavro_command_text, std::string("19-23", 6)},
        {kavro_command_flag, "1"},
        {kavro_command_flag2, "1"},
        {kavro_command_text, std::string("kca", 4)},
        {kavro_command_flag, "1"},
        {kavro_command_flag2, "1"},
        {kavro_player_plays_black, "1"},
        {kavro_player_plays_white, "1"},
        {kavro_command_text, std::string("n", 2)},
        {kavro_command_flag, "1"},
        {kavro_command_flag2, "1"}};
    EXPECT_EQ(seen, expected);
    // Kavro made its move for white, then stands at a new game playing neither side.
    EXPECT_EQ(kavro.replies_made, 1);
    EXPECT_EQ(kavro.game_board(), standard_start_board());
    EXPECT_FALSE(kavro.plays_white() || kavro.plays_black());
    EXPECT_EQ(text.find("Kavro command: \"n\"\nKavro command: \"31-26\"\n"
                        "Kavro command: \"19-23\"\nKavro command: \"kca\"\n"
                        "waitfor_kavro_board_change\n"
                        "W:W26,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50:"
                        "B1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,20,23.\n"),
              0u);
    EXPECT_NE(text.find("Kavro command: \"n\"\nwaitfor_kavro_board_change\nB:W"),
              std::string::npos);
    EXPECT_TRUE(ends_with(text, "\nW:W31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,"
                                "50:B1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20.\n"));
}

TEST_F(EngineTest, StartUpTestRefusesAnyPieceOutOfPlaceWithoutTouchingKavro) {
    for (int square : {1, 20, 21, 30, 31, 50}) {
        ByteBoard board = standard_start_board();
        board[square - 1] = board[square - 1] == 0 ? -1 : 0;
        kavro.show_board(board, 1);
        kavro.process.clear_log();
        OutputCapture output;
        EXPECT_TRUE(test_kavro_at_start());
        EXPECT_EQ(output.text(), "Kavro start board does not verify.\n");
        EXPECT_EQ(kavro.process.writes().size(), 0u) << "square " << square;
    }
}

TEST_F(EngineTest, StartUpTestFailsAtTheMovesOfAKavroThatIgnoresThem) {
    kavro.ignore_moves = true;
    OutputCapture output;
    EXPECT_TRUE(test_kavro_at_start());
    EXPECT_TRUE(ends_with(output.text(), "Kavro command: \"31-26\"\nKavro command: \"19-23\"\n"));
    EXPECT_EQ(kavro.commands, (std::vector<std::string>{"n", "31-26", "19-23"}));
}

TEST_F(EngineTest, StartUpTestChecksEachSquareOfTheTwoMoves) {
    // A Kavro that gets one of the four squares wrong once both moves are made.
    for (int square : {31, 26, 19, 23}) {
        kavro.show_board(standard_start_board(), 1);
        int looks = 0;
        kavro.process.before_read = [&](FakeEngineProcess&, uint32_t address, size_t) {
            if (address != kavro_game_board || ++looks != 2) return;
            ByteBoard board = kavro.game_board();
            board[square - 1] = int8_t(square == 23 ? 0 : -1);
            kavro.show_board(board, 1);
        };
        OutputCapture output;
        EXPECT_TRUE(test_kavro_at_start());
        EXPECT_TRUE(ends_with(output.text(), "Kavro command: \"19-23\"\n")) << square;
    }
}

// Each failing access of the test, with the lines that end its output.
TEST_F(EngineTest, StartUpTestFailuresPrintTheirLines) {
    struct Case {
        bool read;
        uint32_t address;
        int32_t pass;
        std::string tail;
    };
    const std::string read_line = "ReadProcessMemory; " + io_error + "\n";
    const std::string write_line = "WriteProcessMemory; " + io_error + "\n";
    const Case cases[] = {
        {true, kavro_game_board, 0, read_line + "Error reading kavro board.\n"},
        {false, kavro_player_plays_black, 0, write_line + "Error setting player_plays_black.\n"},
        {false, kavro_player_plays_white, 0, write_line + "Error setting player_plays_white.\n"},
        {false, kavro_command_text, 0,
         "Kavro command: \"n\"\n" + write_line + "Error sending kavro \"n\" command.\n"},
        {false, kavro_command_flag2, 1, "Kavro command: \"31-26\"\n" + write_line},
        {false, kavro_command_flag2, 2, "Kavro command: \"19-23\"\n" + write_line},
        {true, kavro_game_board, 1, "Kavro command: \"19-23\"\n" + read_line},
        {false, kavro_command_text, 3, "Kavro command: \"kca\"\n" + write_line},
        {false, kavro_player_plays_black, 1, ".\n" + write_line},
        {false, kavro_player_plays_white, 1, ".\n" + write_line},
        {false, kavro_command_flag, 4, "Kavro command: \"n\"\n" + write_line},
    };
    for (const Case& c : cases) {
        kavro.show_board(standard_start_board(), 1);
        kavro.process.poke_byte(kavro_player_plays_black, 1);
        kavro.process.poke_byte(kavro_player_plays_white, 1);
        kavro.process.failures.clear();
        if (c.read)
            kavro.process.fail_reads_in(c.address, 1, c.pass);
        else
            kavro.process.fail_writes_in(c.address, 1, c.pass);
        OutputCapture output;
        EXPECT_TRUE(test_kavro_at_start());
        const std::string text = output.text();
        EXPECT_TRUE(ends_with(text, c.tail)) << text;
    }
}

TEST_F(EngineTest, StartUpTestStopsWhenKavroCannotBeReadWhileWaiting) {
    kavro.process.fail_reads_in(kavro_game_board, 50, 2); // the wait's first look
    OutputCapture output;
    EXPECT_THROW(test_kavro_at_start(), FatalStop);
    EXPECT_TRUE(ends_with(output.text(), "waitfor_kavro_board_change\n"
                                         "W:W26,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,"
                                         "47,48,49,50:B1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,"
                                         "17,18,20,23.\nReadProcessMemory; " +
                                             io_error + "\n"));
}

} // namespace
