// Kavro's memory as the server reads and writes it, the real stand-in launched as Kavro,
// adjudication, move translation both ways, the options, and the stop on a lost connection.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "control/control.h"
#include "engine/engine.h"
#include "tests/unit/support.h"

namespace {

// Kavro's mapped pages as a byte array; every access fails once `accesses_left` reaches 0.
struct Memory : EngineProcess {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kavro_map_end - kavro_map_begin);
    int accesses_left = -1;
    std::vector<uint32_t> written; // addresses, in order
    uint8_t* at(uint32_t address) { return &bytes.at(address - kavro_map_begin); }
    bool fails() {
        return accesses_left == 0 ? (errno = EIO, true)
                                  : (accesses_left -= accesses_left > 0, false);
    }
    bool read_memory(uint32_t address, void* data, size_t size) override {
        return fails() || (std::memcpy(data, at(address), size), false);
    }
    bool write_memory(uint32_t address, const void* data, size_t size) override {
        if (fails()) return true;
        written.push_back(address), std::memcpy(at(address), data, size);
        // "n" starts a game from the setup board, as Kavro does.
        if (address == kavro_command_flag2 && obeys_new &&
            std::strcmp(reinterpret_cast<char*>(at(kavro_command_text)), "n") == 0)
            for (int s = 0; s < 50; ++s)
                at(kavro_game_board)[s] = at(kavro_setup_board)[s + s / 10];
        return false;
    }
    bool obeys_new = false;
    void show(const ByteBoard& board) { std::memcpy(at(kavro_game_board), board.data(), 50); }
    void score(int16_t value) { std::memcpy(at(kavro_score), &value, 2); }
};

class Engine : public ::testing::Test {
  protected:
    Memory memory;
    void SetUp() override {
        kavro_process = &memory, pause_scale_percent = 0, last_analysis_text[0] = 0;
    }
    void TearDown() override { kavro_process = nullptr, pause_scale_percent = 100; }
};

std::vector<std::string> relayed;
void relay(const char* line) {
    relayed.emplace_back(line);
}

TEST_F(Engine, AnalysisLineAndScore) {
    const struct {
        std::vector<uint8_t> from, to;
        int16_t score;
        std::string printed;
    } rows[] = {
        {{40, 25, 35, 99}, {35, 30, 89}, 15, "value 0.15, pv 32-28 19-23 28x19 \n"},
        {{40, 25, 35, 99}, {35, 30, 89}, 15, ""}, // the same line again: silent
        {{99}, {}, -35, "value -0.35, pv \n"},
        {{16, 0x7f, 99}, {27 | 0x40, 6}, 1, "value 0.01, pv 0x0 0-1 \n"},
    };
    relayed.clear();
    for (const auto& r : rows) {
        std::copy(r.from.begin(), r.from.end(), memory.at(kavro_analysis_from));
        std::copy(r.to.begin(), r.to.end(), memory.at(kavro_analysis_to));
        memory.score(r.score);
        const std::string out = printed([] { EXPECT_FALSE(read_kavro_analysis(relay)); });
        EXPECT_EQ(out, r.printed);
        EXPECT_EQ(last_analysis_score, r.score);
    }
    EXPECT_EQ(relayed.size(), 3u);
    EXPECT_EQ(relayed[0], "value 0.15, pv 32-28 19-23 28x19 ");
    memory.accesses_left = 1; // a failed read keeps the last line
    EXPECT_EQ(printed([] { EXPECT_TRUE(read_kavro_analysis(relay)); }),
              "ReadProcessMemory; Input/output error\n");
    EXPECT_STREQ(last_analysis_text, "value 0.01, pv 0x0 0-1 ");
}

int watched;
bool watch() { // the third poll sees Kavro's move
    if (++watched == 3) static_cast<Memory*>(kavro_process)->show(board_of("B:WK27:BK20"));
    return false;
}

TEST_F(Engine, WaitForKavroBoardChange) {
    const ByteBoard before = board_of("W:WK31:BK20");
    memory.show(before);
    *memory.at(kavro_analysis_from) = 99;
    watched = 0, pause_scale_percent = 20; // a wait without a limit outlasts its polls
    EXPECT_EQ(
        printed([&] { EXPECT_FALSE(waitfor_kavro_board_change(before, 'W', 0, relay, watch)); }),
        "waitfor_kavro_board_change\nW:WK31:BK20.\nvalue 0.00, pv \nB:WK27:BK20.\n");
    EXPECT_EQ(watched, 3);
    memory.show(before);
    EXPECT_EQ(printed([&] { // a watch that ends the wait: no board after it
                  EXPECT_TRUE(
                      waitfor_kavro_board_change(before, 'W', 0, relay, [] { return true; }));
              }),
              "waitfor_kavro_board_change\nW:WK31:BK20.\n");
    pause_scale_percent = 100; // unchanged: polls until the time limit has passed
    memory.show(before);
    const int64_t start = clock_ms();
    EXPECT_EQ(
        printed([&] { EXPECT_TRUE(waitfor_kavro_board_change(before, 'Z', 350, relay, nullptr)); }),
        "waitfor_kavro_board_change\nB:WK31:BK20.\n");
    EXPECT_GE(clock_ms() - start, 350);
    EXPECT_LT(clock_ms() - start, 700);
    pause_scale_percent = 0;
    for (int accesses : {0, 2, 1}) { // the board, the analysis, the look after a change
        memory.accesses_left = accesses;
        const std::string out = printed([&] {
            waitfor_kavro_board_change(accesses == 1 ? board_of("B:WK27:BK20") : before, 'W', 0,
                                       nullptr, nullptr);
        });
        EXPECT_EQ(out.substr(out.size() - 44), "ReadProcessMemory; Input/output error\n<stop>");
    }
}

TEST_F(Engine, TypedCommandsAndTheSetupBoard) {
    std::memset(memory.at(kavro_command_text), 'x', 8); // the zero byte must be written
    EXPECT_EQ(printed([] { EXPECT_FALSE(type_kavro_command("31-26")); }),
              "Kavro command: \"31-26\"\n");
    EXPECT_EQ(memory.written,
              (std::vector<uint32_t>{kavro_command_text, kavro_command_flag, kavro_command_flag2}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(memory.at(kavro_command_text)), 7),
              std::string("31-26\0x", 7));
    EXPECT_EQ(join(+*memory.at(kavro_command_flag), +*memory.at(kavro_command_flag2)), "1 1");
    memory.written.clear();
    memory.accesses_left = 1;
    EXPECT_EQ(printed([] { EXPECT_TRUE(type_kavro_command("kca")); }),
              "Kavro command: \"kca\"\nWriteProcessMemory; Input/output error\n");
    EXPECT_EQ(memory.written, std::vector<uint32_t>{kavro_command_text}); // no flag after it

    memory.accesses_left = -1;
    EXPECT_FALSE(write_setup_board(board_of("W:W31,K45:B2,K12")));
    std::string image;
    for (int i = 0; i < 54; ++i) image += char('3' + int8_t(memory.at(kavro_setup_board)[i]));
    EXPECT_EQ(image, "323333333363133333333633333333336433333333363333533333");
}

// Kavro plays the side to move of the FEN. Expected: the result, the draw count after, the
// lines printed.
TEST_F(Engine, Adjudication) {
    const struct {
        const char* fen;
        int score, count, ponder; // ponder 999: the score cannot be read
        std::string expected;
    } rows[] = {
        {"W:W48-50:B", -500, 3, 0, "1 3 "},
        {"W:W:B1-3", 0, 3, 0, "2 3 "},
        {"B:W28,32:B23,1", -300, 0, 0, "2 0 "},
        {"W:W44-50:B1-8", 0, 4, 0, "3 0 "},
        {"W:W44-50:B1-7", 270, 0, 0, "1 0 "},
        {"W:W44-50:B1-7", -269, 2, 0, "3 0 "},
        {"W:W45-50:B1-6", 0, 3, 0, "3 4 Draw count 4\n"},
        {"W:W45-50:B1-6", 0, 4, 0, "0 5 Draw count 5\n"},
        {"W:W47-50:B1-4", 0, 0, 0, "0 1 Draw count 1\n"},
        {"B:W47-50:B1-4", -10, 0, 6, "0 0 "},
        {"B:W47-50:B1-4", 11, 0, -5, "0 0 Using ponder score -5\n"},
        {"B:W47-50:B1-4", 11, 0, 6, "3 0 "},
        {"B:W47-50:B1-4", 11, 0, 999, "3 0 ReadProcessMemory; Input/output error\n"},
    };
    for (const auto& r : rows) {
        draw_count = r.count;
        memory.score(int16_t(r.ponder));
        memory.accesses_left = r.ponder == 999 ? 0 : -1;
        int side, result = -1;
        const Position p = fen(r.fen, &side);
        const std::string out = printed([&] { result = adjudicate_position(p, side, r.score); });
        EXPECT_EQ(join(result, draw_count, out), r.expected) << r.fen << " " << r.score;
    }
}

DxpMessage move(int from, int to, std::vector<int16_t> taken = {}, int claimed = -1) {
    DxpMessage m{};
    m.type = DXP_MOVE;
    m.move.from_square = int16_t(from), m.move.to_square = int16_t(to);
    m.move.capture_count = int16_t(claimed < 0 ? int(taken.size()) : claimed);
    std::copy(taken.begin(), taken.end(), m.move.captured);
    return m;
}

const char* const start = "W:W31-50:B1-20";
const char* const king13 = "W:WK13:B18,30,32,37"; // two captures 13x25, told apart by 32/37

TEST_F(Engine, ReceivedMovesBecomeCommands) {
    const std::string no_match = "cannot match from and to squares of received move.\n<stop>";
    const struct {
        const char* fen;
        DxpMessage move;
        std::string result; // the command, or what was printed
        const char* after;
    } rows[] = {
        {start, move(32, 28), "32-28", "B:W28,31,33-50:B1-20"},
        {"B:W28,31,33-50:B1-20", move(19, 23), "19-23", "W:W28,31,33-50:B1-18,20,23"},
        {king13, move(13, 25, {30, 32, 18}), "13-32-25", "B:WK25:B37"},
        {king13, move(13, 25, {18, 37, 30}), "13-37-25", "B:WK25:B32"},
        {"W:WK43:B14,18,19,39", move(43, 22, {39, 19, 18}),
         "Error, cannot find a unique jumped square.\n<stop>", nullptr},
        {"W:W32,33:B28", move(33, 29), "Capture counts dont match\n<stop>", nullptr},
        {start, move(32, 28, {23}), "Capture counts dont match\n<stop>", nullptr},
        {king13, move(13, 25, {18, 32}), no_match, nullptr},
        {king13, move(13, 25, {18, 32, 31}), no_match, nullptr},
        {king13, move(13, 25, {18, 32}, 3), no_match, nullptr},
        {king13, move(13, 25, {18, 32, 30, 37}), no_match, nullptr}, // one square too many
        {king13, move(13, 24, {18, 32, 30}), no_match, nullptr},
        {"B:W28,31,33-50:B1-20", move(31, 27), no_match, nullptr},
    };
    for (const auto& r : rows) {
        current_board = board_of(r.fen);
        game.kavro_colour = r.fen[0] == 'W' ? 'Z' : 'W'; // the client to move
        char command[9] = "unset";
        const std::string out = printed([&] { translate_received_move(r.move, command); });
        EXPECT_EQ(r.after ? std::string(command) : out, r.result) << r.fen;
        EXPECT_EQ(current_board, board_of(r.after ? r.after : r.fen)) << r.fen;
    }
    // The record of "M0000322801" keeps its claim, and the translation refuses it.
    DxpMessage m;
    decode_dxp_message("M0000322801", m);
    current_board = board_of(start);
    char command[9];
    EXPECT_EQ(printed([&] { translate_received_move(m, command); }),
              "Capture counts dont match\n<stop>");
}

TEST_F(Engine, KavroMovesAreSentWithCapturesInTheOrderTaken) {
    const struct {
        const char *fen, *colour, *after;
        std::string expected;
    } rows[] = {
        {"W:W31-50:B1-20", "W", "B:W28,31,33-50:B1-20",
         "Sent: \"M0000322800\"\nSent: \"C" + std::string(126, 'v') + "\"\n"}, // with -pv
        {"B:W28:B23", "Z", "W:W:B32", "Sent: \"M000023320128\"\n"},
        {king13, "W", "B:WK25:B37", "Sent: \"M0000132503183230\"\n"},
        {start, "W", "B:W23,31,33-50:B1-20",
         "Cannot match kavro new board up with a legal move.\n<stop>"},
    };
    std::strcpy(last_analysis_text, std::string(140, 'v').c_str());
    for (const auto& r : rows) {
        current_board = board_of(r.fen);
        game.kavro_colour = r.colour[0];
        memory.show(board_of(r.after));
        EXPECT_EQ(printed([&] { send_kavro_move(&r == rows); }), r.expected) << r.fen;
    }
}

// What the dispatcher writes into Kavro: at a game's end both player flags (Kavro already at
// the start: nothing typed), and for a given position both flags before "n", so that Kavro
// plays no side of the new board until "kac" or "kca".
TEST_F(Engine, DispatcherTakesKavroOffBothSides) {
    const uint32_t black = kavro_player_plays_black, white = kavro_player_plays_white,
                   text = kavro_command_text, flag = kavro_command_flag,
                   flag2 = kavro_command_flag2;
    const struct {
        int code;
        std::string message;
        std::vector<uint32_t> written;
    } rows[] = {
        {DXP_GAMEEND, "E00", {black, white}},
        {DXP_GAMEREQ,
         "R01" + std::string(32, 'x') + "Z010050BW" + std::string(50, 'e'),
         {black, white, kavro_setup_board, text, flag, flag2, text, flag, flag2}},
    };
    create_event_queue(nullptr);
    for (const auto& r : rows) {
        reset_dxp_ring();
        receive_bytes(r.message.c_str(), int(r.message.size()) + 1);
        memory.show(board_of("W:W31-50:B1-20"));
        memory.written.clear();
        *memory.at(black) = *memory.at(white) = 0;
        printed([&] { dispatch_dxp_event(r.code); });
        EXPECT_EQ(memory.written, r.written) << r.message;
        EXPECT_EQ(join(+*memory.at(black), +*memory.at(white)), "1 1") << r.message;
    }
    while (wait_event(0) != -1) {
    }
}

// The real stand-in as Kavro: a missing program names the reason, and an access that would
// run past Kavro's pages fails instead of moving part of its bytes.
TEST(Launch, TheRealStandInAsKavro) {
    namespace fs = std::filesystem;
    const fs::path home = fs::current_path(),
                   scratch =
                       fs::temp_directory_path() / ("kavro-launch-" + std::to_string(getpid()));
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    fs::current_path(scratch);
    pause_scale_percent = 25;
    EXPECT_EQ(printed([] { EXPECT_TRUE(launch_kavro()); }),
              "CreateProcess; No such file or directory\n");
    fs::copy_file(WINKAVRO, scratch / "winkavro.exe");
    ASSERT_FALSE(launch_kavro());
    ByteBoard board{};
    for (int i = 0; i < 500 && (read_kavro_board(board) || board != board_of("W:W31-50:B1-20"));
         ++i)
        pause_ms(40);
    EXPECT_EQ(board, board_of("W:W31-50:B1-20"));
    char bytes[8];
    EXPECT_TRUE(kavro_process->read_memory(kavro_map_end - 4, bytes, sizeof bytes));
    // Given up on, it is ended and gone before the server stops.
    const int64_t pid = child_process_id(kavro_process);
    EXPECT_EQ(printed([] { give_up_on_kavro(); }),
              "The Kavro process this server started is ended.\n<stop>");
    EXPECT_FALSE(process_running(pid));
    EXPECT_FALSE(end_child(kavro_process)); // gone already: nothing to end
    delete kavro_process;
    kavro_process = nullptr, pause_scale_percent = 100;
    fs::current_path(home);
    fs::remove_all(scratch);
}

TEST(Control, PieceCountAndOptions) {
    EXPECT_EQ(piece_count_test(fen("W:W:B")), 0);
    EXPECT_EQ(piece_count_test(fen("W:W1,K31,45:B20,50")), 0);
    EXPECT_EQ(piece_count_test(fen("W:W1,K31,45:B12,20,50")), 3); // all four quarters of a mask
    ByteBoard board;
    EXPECT_FALSE(differs_from_standard_start(set_standard_start(board)));
    board[49] = 0; // a game given without the man on 50 still ends with a reset
    EXPECT_TRUE(differs_from_standard_start(board));

    // Flags: -pv -pvall -a -t -keep, then the port, what was printed, and whether to end.
    const char* const rows[][3] = {
        {"-pvall", "0 1 0 0 0 27531 0", ""},
        {"-pv", "1 0 0 0 0 27531 0", ""},
        {"-a -t -keep", "0 0 1 1 1 27531 0", ""},
        // Not options but directories; one that cannot be entered stops the server.
        {"-t -PV -pva", "",
         "The directory \"-PV\" cannot be entered; No such file or directory\n<stop>"},
        {"/ -port8 -a", "",
         "The directory \"-port8\" cannot be entered; No such file or directory\n<stop>"},
        {"/etc/hostname", "",
         "The directory \"/etc/hostname\" cannot be entered; Not a directory\n<stop>"},
        {"-a / tmp", "0 0 1 0 0 27531 0", ""}, // "tmp" from "/"
        {"-port 1 -port 65535", "0 0 0 0 0 65535 0", ""},
        {"-version -port x", "0 0 0 0 0 27531 1", "kavro-dxp " KAVRO_VERSION "\n"},
        {"-t -port", "0 0 0 1 0 27531 0", "-port needs a port number from 1 to 65535.\n<stop>"},
        {"-port 0", "", "-port: \"0\" is not a port number from 1 to 65535.\n<stop>"},
        {"-port 65536", "", "-port: \"65536\" is not a port number from 1 to 65535.\n<stop>"},
        {"-port 99999999999999999999", "",
         "-port: \"99999999999999999999\" is not a port number from 1 to 65535.\n<stop>"},
        {"-port -t", "", "-port: \"-t\" is not a port number from 1 to 65535.\n<stop>"},
        {"-port 8x", "", "-port: \"8x\" is not a port number from 1 to 65535.\n<stop>"},
    };
    const std::filesystem::path home = std::filesystem::current_path();
    for (const auto& [line, expected, output] : rows) {
        options = Options{}, dxp_port = 27531;
        Arguments a(std::string("kavro-dxp ") + line);
        bool end = false;
        EXPECT_EQ(printed([&] { end = handle_arguments(a.argc(), a.argv.data()); }), output)
            << line;
        if (expected[0] == '\0') continue;
        EXPECT_EQ(join(options.send_pv, options.send_pv_all, options.adjudicate,
                       options.skip_engine_test, options.keep, dxp_port, end),
                  expected)
            << line;
    }
    EXPECT_EQ(std::filesystem::current_path(), "/tmp");
    std::filesystem::current_path(home);
    options = Options{}, dxp_port = 27531;
}

// -keep: a lost client leaves nothing behind, neither its bytes and events nor its game, and
// Kavro is taken off both colours and brought back to the standard start.
TEST_F(Engine, KeepForgetsTheLostClientAndResetsKavro) {
    const char* const boards[][2] = {
        {"W:W28,31:B19", "Kavro command: \"n\"\nwaitfor_kavro_board_change\nW:W28,31:B19.\n"
                         "B:W31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50:B1,2,3,"
                         "4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20.\n"}, // Kavro moved 28
        {"W:W31-50:B1-20", ""}, // already at the start: only the flags
    };
    options.keep = true, memory.obeys_new = true;
    create_event_queue(nullptr);
    for (const auto& [shown, reset] : boards) {
        reset_dxp_ring();
        receive_bytes("B001W\0B00", 9); // a message with its event, and half of one
        post_event(DXP_MOVE);           // and an event after the loss
        memory.show(board_of(shown)), memory.written.clear();
        game.kavro_colour = 'W', current_board = board_of("W:W28:B19");
        std::strcpy(last_analysis_text, "value 0.50, pv 28-22 "), draw_count = 3;
        EXPECT_EQ(printed([] { dispatch_dxp_event(DXP_CONNECTIONLOST); }),
                  "Received: DXP_CONNECTIONLOST\n" + std::string(reset));
        EXPECT_EQ(wait_event(0), -1) << shown;
        EXPECT_EQ(dxp_ring_room(), dxp_ring_size - 1) << shown;
        EXPECT_EQ(join(game.kavro_colour, game.game_end_declared, int(draw_count),
                       int(last_analysis_text[0]), current_board == ByteBoard{}),
                  "0 0 0 0 1");
        EXPECT_EQ(std::vector<uint32_t>(memory.written.begin(), memory.written.begin() + 2),
                  (std::vector<uint32_t>{kavro_player_plays_black, kavro_player_plays_white}));
        ByteBoard now;
        read_kavro_board(now);
        EXPECT_FALSE(differs_from_standard_start(now)) << shown;
    }
    options = Options{};
}

TEST(Control, ConnectionLostStopsWhateverTheRingHolds) {
    create_event_queue(nullptr);
    reset_dxp_ring();
    const std::string overlong = "C" + std::string(140, 'c');
    receive_bytes(overlong.data(), int(overlong.size()));
    EXPECT_EQ(printed([] { dispatch_dxp_event(DXP_CONNECTIONLOST); }),
              "Received: DXP_CONNECTIONLOST\n<stop>");
    reset_dxp_ring();
    while (wait_event(0) != -1) {
    }
}

} // namespace
