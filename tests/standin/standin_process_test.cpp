// The real winkavro.exe driven only through its memory, as the server drives it.
#include "tests/standin/standin_driver.h"

#include <fstream>

namespace {

// True when the analysis line, from move k on, is a line of legal moves from the position:
// each item names the squares of a legal move and marks exactly the captures.
bool line_is_legal(const Position& position, int white_to_move, const AnalysisLine& line, int k) {
    if (k == line.length) return true;
    static MoveList lists[24];
    static CapturePaths paths[24];
    int n = 0;
    int count = generate_legal_moves(position, white_to_move, lists[k], paths[k], n);
    int from = square_of_code_for_test(line.from[k] & 63);
    int to = square_of_code_for_test(line.to[k] & 63);
    bool capture = (line.to[k] & map_capture_bit) != 0;
    if (from == 0 || to == 0 || capture != (n > 0)) return false;
    for (int i = 0; i < count; ++i) {
        MoveSquares squares = move_squares(n, i, white_to_move, position, lists[k], paths[k]);
        if (square_of_mask(squares.from) != from || square_of_mask(squares.to) != to) continue;
        if (line_is_legal(lists[k].entries[i], !white_to_move, line, k + 1)) return true;
    }
    return false;
}

TEST_F(StandinTest, LaunchStateIsTheStartWithNeitherSidePlayedAndNoAnalysis) {
    EXPECT_EQ(byte_at(map_player_plays_black), 1);
    EXPECT_EQ(byte_at(map_player_plays_white), 1);
    AnalysisLine line = analysis();
    EXPECT_EQ(line.length, 0);
    EXPECT_EQ(line.score, 0);
    // It moves for neither side on its own.
    pause_ms(3 * movetime_ms);
    EXPECT_EQ(board(), standard_start());
}

// The server's start-up test types "n" before it has written any setup board: the setup
// board holds the standard start from launch on.
TEST_F(StandinTest, NewGameBeforeAnySetupBoardIsTheStandardStart) {
    std::array<int8_t, 54> setup{};
    ASSERT_FALSE(engine->read_memory(map_setup_board, setup.data(), setup.size()));
    for (int border : {10, 21, 32, 43}) EXPECT_EQ(setup[size_t(border)], 3);
    type("31-26");
    ByteBoard moved = wait_change(standard_start(), 1000);
    ASSERT_NE(moved, standard_start());
    type("n");
    EXPECT_EQ(wait_change(moved, 1000), standard_start());
    type("31-26");
    EXPECT_EQ(wait_change(standard_start(), 1000), moved);
}

TEST_F(StandinTest, NewGameShowsTheSetupBoardWithWhiteToMove) {
    ByteBoard setup = board_with({{3, -2}, {12, -1}, {28, 1}, {33, 1}, {46, 2}});
    new_game(setup);
    // White is to move: a black move is refused, a white one is taken.
    type("12-17");
    ASSERT_TRUE(command_taken());
    pause_ms(50);
    EXPECT_EQ(board(), setup);
    type("28-22");
    ByteBoard after = wait_change(setup, 1000);
    EXPECT_EQ(after, board_with({{3, -2}, {12, -1}, {22, 1}, {33, 1}, {46, 2}}));
}

TEST_F(StandinTest, SetupBytesThatNameNoPieceBecomeEmptySquares) {
    std::array<int8_t, 54> setup{};
    setup.fill(3);
    for (int s = 1; s <= 50; ++s) setup[size_t(setup_index_of_square(s))] = 0;
    setup[size_t(setup_index_of_square(7))] = -1;
    setup[size_t(setup_index_of_square(8))] = 5;    // no such piece
    setup[size_t(setup_index_of_square(9))] = -128; // no such piece
    setup[size_t(setup_index_of_square(40))] = 1;
    ASSERT_FALSE(engine->write_memory(map_setup_board, setup.data(), setup.size()));
    type("n");
    ByteBoard shown = wait_change(standard_start(), 1000);
    EXPECT_EQ(shown, board_with({{7, -1}, {40, 1}}));
}

TEST_F(StandinTest, OpeningMovesTypedInTurnShowOnItsBoard) {
    type("31-26");
    ByteBoard first = wait_change(standard_start(), 1000);
    ByteBoard expected = standard_start();
    expected[30] = 0;
    expected[25] = 1;
    EXPECT_EQ(first, expected);
    type("19-23");
    ByteBoard second = wait_change(first, 1000);
    expected[18] = 0;
    expected[22] = -1;
    EXPECT_EQ(second, expected);
}

// A king on 13 can take 18, 32, 30 or 18, 37, 30: both end on 25. The jumped square in the
// middle of the command tells them apart; the plain form takes the first listed.
TEST_F(StandinTest, JumpedSquareChoosesBetweenCapturesWithTheSameSquares) {
    const ByteBoard setup = board_with({{13, 2}, {18, -1}, {30, -1}, {32, -1}, {37, -1}});
    new_game(setup);
    type("13-32-25");
    EXPECT_EQ(wait_change(setup, 1000), board_with({{25, 2}, {37, -1}}));

    new_game(setup);
    type("13-37-25");
    EXPECT_EQ(wait_change(setup, 1000), board_with({{25, 2}, {32, -1}}));

    // The first in generation order, whichever that is, for the plain form and for a jumped
    // square both captures take.
    static MoveList list;
    static CapturePaths paths;
    int n = 0;
    generate_legal_moves(position_of_board(setup), 1, list, paths, n);
    ASSERT_EQ(n, 3);
    ByteBoard first{};
    board_of_position(list.entries[0], first);
    for (const char* command : {"13-25", "13-18-25"}) {
        new_game(setup);
        type(command);
        EXPECT_EQ(wait_change(setup, 1000), first) << command;
    }
}

TEST_F(StandinTest, IllegalOrMalformedCommandsChangeNothing) {
    const char* commands[] = {
        "31-25",    // no such move
        "19-23",    // black's move with white to move
        "46-41",    // blocked
        "31-27-22", // a jumped square in a quiet move
        "31-27x",   "31-",         "-31-27", "31--27", "31-27-", "0-5", "51-46",
        "131-27",   "31-27-22-18", "31 27",  " 31-27", "31-27 ", "",    "x",
        "N",        "nn",          "kc",     "kcab",   "kca ",
    };
    ByteBoard before = board();
    for (const char* command : commands) {
        type(command);
        ASSERT_TRUE(command_taken()) << command;
        EXPECT_EQ(board(), before) << command;
        EXPECT_EQ(byte_at(map_player_plays_white), 1) << command;
    }
    pause_ms(50);
    EXPECT_EQ(board(), before);
    // A text with no zero byte in reach is no command either.
    char long_text[80];
    std::memset(long_text, '1', sizeof long_text);
    ASSERT_FALSE(engine->write_memory(map_command_text, long_text, sizeof long_text));
    poke(map_command_flag, 1);
    poke(map_command_flag2, 1);
    ASSERT_TRUE(command_taken());
    pause_ms(50);
    EXPECT_EQ(board(), before);
    // And it still obeys a good command afterwards.
    type("32-28");
    EXPECT_NE(wait_change(before, 1000), before);
}

TEST_F(StandinTest, AfterKcaItPlaysALegalMoveInTimeWithALegalAnalysisLine) {
    const ByteBoard start = board();
    int64_t typed_at = clock_ms();
    type("kca");
    ByteBoard after = wait_change(start, movetime_ms + 2000);
    int64_t took = clock_ms() - typed_at;
    ASSERT_NE(after, start) << "no move within its time";
    EXPECT_LE(took, movetime_ms + 500);
    EXPECT_TRUE(player_flags_become(1, 0));
    EXPECT_GE(legal_move_index(start, after, 1), 0) << "not a legal white move";

    AnalysisLine line = analysis();
    ASSERT_GE(line.length, 1);
    EXPECT_TRUE(line_is_legal(position_of_board(start), 1, line, 0));
    // The line starts with the move it played.
    static MoveList list;
    static CapturePaths paths;
    int n = 0;
    Position before = position_of_board(start);
    int count = generate_legal_moves(before, 1, list, paths, n);
    int played = legal_move_index(start, after, 1);
    ASSERT_LT(played, count);
    MoveSquares squares = move_squares(n, played, 1, before, list, paths);
    EXPECT_EQ(square_of_code_for_test(line.from[0]), square_of_mask(squares.from));
    EXPECT_EQ(square_of_code_for_test(line.to[0] & 63), square_of_mask(squares.to));
    EXPECT_LT(line.score, 300);
    EXPECT_GT(line.score, -300);

    // Black to move now: it waits for the typed move, shows it, and only then answers it.
    pause_ms(2 * movetime_ms);
    EXPECT_EQ(board(), after);
    n = 0;
    count = generate_legal_moves(position_of_board(after), 0, list, paths, n);
    ASSERT_GT(count, 0);
    squares = move_squares(n, 0, 0, position_of_board(after), list, paths);
    char command[16];
    std::snprintf(command, sizeof command, "%d-%d", square_of_mask(squares.from),
                  square_of_mask(squares.to));
    ByteBoard typed{};
    board_of_position(list.entries[0], typed);
    type(command);
    ByteBoard first_seen = wait_change(after, 1000);
    ByteBoard reply = wait_change(typed, movetime_ms + 2000);
    // The reply comes at least 50 ms after the typed move; a test slowed down by a loaded
    // machine may miss that moment, but never sees any other board in between.
    EXPECT_TRUE(first_seen == typed || first_seen == reply)
        << "the board showed neither the typed move nor the reply";
    EXPECT_NE(reply, typed);
    EXPECT_GE(legal_move_index(typed, reply, 1), 0);
}

TEST_F(StandinTest, KacMakesItPlayBlackOnly) {
    type("kac");
    ASSERT_TRUE(player_flags_become(0, 1));
    pause_ms(2 * movetime_ms); // white to move: not its side
    EXPECT_EQ(board(), standard_start());
    type("33-28");
    ByteBoard typed = wait_change(standard_start(), 1000);
    ByteBoard reply = wait_change(typed, movetime_ms + 2000);
    EXPECT_GE(legal_move_index(typed, reply, 0), 0);
    // White to move again: it waits.
    pause_ms(2 * movetime_ms);
    EXPECT_EQ(board(), reply);
}

TEST_F(StandinTest, BothPlayerFlagsAtOneStopItMidThought) {
    type("kca");
    ASSERT_TRUE(player_flags_become(1, 0));
    // The server takes both sides away by writing the flags directly, while it thinks.
    poke(map_player_plays_black, 1);
    poke(map_player_plays_white, 1);
    pause_ms(3 * movetime_ms);
    EXPECT_EQ(board(), standard_start());
}

TEST_F(StandinTest, ItEndsSoonAfterTheProcessThatStartedItHasGone) {
    dir.link_program(PLATFORM_HELPER_DIR, "platform_launch_and_exit", "launch_and_exit");
    dir.write_file("launch_target.txt", "winkavro.exe\n");
    EngineProcess* launcher = launch_child("launch_and_exit");
    ASSERT_NE(launcher, nullptr);
    int64_t launcher_pid = child_process_id(launcher);
    delete launcher;
    ASSERT_TRUE(wait_until([&] { return !process_running(launcher_pid); }, 5000));
    end_process_group(launcher_pid);
    int64_t orphan = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            std::ifstream file(dir.path / "child.pid");
            return bool(file >> orphan);
        },
        5000));
    ASSERT_GT(orphan, 0);
    bool gone = wait_until([&] { return !process_running(orphan); }, 5000);
    end_process_group(orphan);
    EXPECT_TRUE(gone) << "the stand-in outlived the process that started it";
}

// A long move time: only a command can end its thinking early.
class SlowStandinTest : public StandinTest {
  protected:
    std::string ini_text() override { return "movetime_ms=60000\nhash_megabytes=4\n"; }
};

TEST_F(SlowStandinTest, ACommandInterruptsThinkingAtOnce) {
    type("kca");
    ASSERT_TRUE(player_flags_become(1, 0));
    pause_ms(200); // well into its thought
    write_setup(standard_start());
    int64_t typed_at = clock_ms();
    type("kac");
    ASSERT_TRUE(command_taken(500));
    EXPECT_LT(clock_ms() - typed_at, 200);
    // It gave up white without playing: the start stands, and it waits for white's move.
    pause_ms(200);
    EXPECT_EQ(board(), standard_start());
    EXPECT_TRUE(player_flags_become(0, 1));
    // The same while thinking for black: a typed "n" is taken at once.
    type("32-28");
    ByteBoard typed = wait_change(standard_start(), 1000);
    ASSERT_NE(typed, standard_start());
    pause_ms(200);
    typed_at = clock_ms();
    type("n");
    ASSERT_TRUE(command_taken(500));
    EXPECT_LT(clock_ms() - typed_at, 200);
    EXPECT_EQ(wait_change(typed, 1000), standard_start());
}

} // namespace
