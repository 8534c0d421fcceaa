// The real winkavro.exe driven only through its memory, as the server drives it: a fresh working
// directory with the program and its ini, reads and writes at the fixed addresses, and the
// process group ended when the test ends.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <string>

#include "board/board.h"
#include "board/movegen.h"
#include "platform/platform.h"
#include "standin/memory_map.h"
#include "tests/platform/scratch_dir.h"

namespace {

template <class Predicate> bool wait_until(Predicate predicate, int limit_ms) {
    int64_t start = clock_ms();
    while (!predicate()) {
        if (clock_ms() - start > limit_ms) return false;
        pause_ms(1);
    }
    return true;
}

// A board from a list of (square, value) pairs.
ByteBoard board_with(std::initializer_list<std::pair<int, int>> pieces) {
    ByteBoard board{};
    for (auto [square, value] : pieces) board[size_t(square - 1)] = int8_t(value);
    return board;
}

ByteBoard standard_start() {
    ByteBoard board{};
    for (int s = 1; s <= 50; ++s) board[size_t(s - 1)] = int8_t(s <= 20 ? -1 : s <= 30 ? 0 : 1);
    return board;
}

struct AnalysisLine {
    int from[24];
    int to[24]; // with the capture bit
    int length;
    int16_t score;
};

class StandinTest : public ::testing::Test {
  protected:
    static constexpr int movetime_ms = 300;
    ScratchDir dir;
    EngineProcess* engine = nullptr;
    int64_t pid = 0;

    virtual std::string ini_text() {
        return "# short games for the tests\nmovetime_ms=" + std::to_string(movetime_ms) +
               "\nhash_megabytes=4\n";
    }

    void SetUp() override {
        fill_bit_count_table();
        build_ray_table();
        adopt_orphans();
        dir.link_program(WINKAVRO_DIR, "winkavro.exe", "winkavro.exe");
        dir.write_file("winkavro.ini", ini_text());
        engine = launch_child("winkavro.exe");
        ASSERT_NE(engine, nullptr);
        pid = child_process_id(engine);
        ByteBoard board{};
        // Ready once its map is there and shows the start.
        ASSERT_TRUE(wait_until(
            [&] {
                return !engine->read_memory(map_game_board, board.data(), board.size()) &&
                       board == standard_start();
            },
            5000))
            << "the stand-in never showed its start board";
    }
    void TearDown() override {
        end_process_group(pid);
        delete engine;
    }

    ByteBoard board() {
        ByteBoard b{};
        EXPECT_FALSE(engine->read_memory(map_game_board, b.data(), b.size()));
        return b;
    }
    int8_t byte_at(uint32_t address) {
        int8_t value = 0;
        EXPECT_FALSE(engine->read_memory(address, &value, 1));
        return value;
    }
    void poke(uint32_t address, int8_t value) {
        ASSERT_FALSE(engine->write_memory(address, &value, 1));
    }
    // Types a command the way the server does: the text with its zero byte, then both flags.
    void type(const char* text) {
        ASSERT_FALSE(engine->write_memory(map_command_text, text, std::strlen(text) + 1));
        poke(map_command_flag, 1);
        poke(map_command_flag2, 1);
    }
    // True once the stand-in has taken the command (both flags lowered).
    bool command_taken(int limit_ms = 1000) {
        return wait_until(
            [&] { return byte_at(map_command_flag2) == 0 && byte_at(map_command_flag) == 0; },
            limit_ms);
    }
    // The stand-in lowers the flags first and then carries the command out: a change of the
    // player flags shows a moment later.
    bool player_flags_become(int8_t black, int8_t white, int limit_ms = 1000) {
        return wait_until(
            [&] {
                return byte_at(map_player_plays_black) == black &&
                       byte_at(map_player_plays_white) == white;
            },
            limit_ms);
    }
    void write_setup(const ByteBoard& b) {
        std::array<int8_t, 54> setup{};
        setup.fill(3);
        for (int s = 1; s <= 50; ++s) setup[size_t(setup_index_of_square(s))] = b[size_t(s - 1)];
        ASSERT_FALSE(engine->write_memory(map_setup_board, setup.data(), setup.size()));
    }
    void new_game(const ByteBoard& b) {
        write_setup(b);
        type("n");
        ASSERT_TRUE(wait_until([&] { return board() == b; }, 1000));
    }
    // Waits for the board to differ from the reference; the new board, or the reference on
    // timeout.
    ByteBoard wait_change(const ByteBoard& reference, int limit_ms) {
        ByteBoard now = reference;
        wait_until(
            [&] {
                now = board();
                return now != reference;
            },
            limit_ms);
        return now;
    }
    AnalysisLine analysis() {
        int8_t from[24], to[24];
        AnalysisLine line{};
        EXPECT_FALSE(engine->read_memory(map_analysis_from, from, sizeof from));
        EXPECT_FALSE(engine->read_memory(map_analysis_to, to, sizeof to));
        EXPECT_FALSE(engine->read_memory(map_score, &line.score, sizeof line.score));
        while (line.length < 24 && from[line.length] != map_end_of_line) {
            line.from[line.length] = from[line.length];
            line.to[line.length] = to[line.length];
            ++line.length;
        }
        return line;
    }
};

// The square of a square code, 0 for a code that is no square.
int square_of_code_for_test(int code) {
    for (int s = 1; s <= 50; ++s)
        if (square_code(s) == code) return s;
    return 0;
}

// The index of the legal move that leads from one board to the other, or -1.
int legal_move_index(const ByteBoard& before, const ByteBoard& after, int white_to_move) {
    static MoveList list;
    static CapturePaths paths;
    int n = 0;
    int count = generate_legal_moves(position_of_board(before), white_to_move, list, paths, n);
    Position target = position_of_board(after);
    for (int i = 0; i < count; ++i)
        if (list.entries[i] == target) return i;
    return -1;
}

// True when the analysis line, from move k on, is a line of legal moves from the position:
// each item names the squares of a legal move and marks exactly the captures. The first move
// must lead to first when given.
bool line_is_legal(const Position& position, int white_to_move, const AnalysisLine& line, int k,
                   const Position* first = nullptr) {
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
        if (first != nullptr && !(lists[k].entries[i] == *first)) continue;
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
    // A legal line that starts with the move it played.
    const Position played = position_of_board(after);
    EXPECT_TRUE(line_is_legal(position_of_board(start), 1, line, 0, &played));
    EXPECT_LT(line.score, 300);
    EXPECT_GT(line.score, -300);

    // Black to move now: it waits for the typed move, shows it, and only then answers it.
    pause_ms(2 * movetime_ms);
    EXPECT_EQ(board(), after);
    static MoveList list;
    static CapturePaths paths;
    int n = 0;
    ASSERT_GT(generate_legal_moves(position_of_board(after), 0, list, paths, n), 0);
    const MoveSquares squares = move_squares(n, 0, 0, position_of_board(after), list, paths);
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
