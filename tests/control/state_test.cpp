// The command line, the standard start and the piece count test.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "control/control.h"

namespace fs = std::filesystem;

namespace {

// Runs the arguments as the program would get them; gives what was printed.
std::string handle(std::vector<std::string> arguments) {
    options = Options{};
    arguments.insert(arguments.begin(), "kavro-dxp");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    testing::internal::CaptureStdout();
    handle_arguments(int(argv.size()), argv.data());
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string flags() {
    return std::string(options.send_pv ? "pv " : "") + (options.send_pv_all ? "pvall " : "") +
           (options.adjudicate ? "a " : "") + (options.skip_engine_test ? "t " : "");
}

// Options set their own flag only; near misses are directories that silently fail to be
// entered; directories are entered in turn, options anywhere among them.
TEST(Arguments, OptionsAndDirectories) {
    const fs::path start = fs::current_path();
    const fs::path scratch =
        fs::temp_directory_path() / ("kavro-control-" + std::to_string(std::random_device{}()));
    fs::create_directories(scratch / "first" / "second");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, ""},
        {{"-pvall"}, "pvall "},
        {{"-pv"}, "pv "},
        {{"-a", "-t"}, "a t "},
        {{"-PV", "-pv ", "-pva", "-A", "-tt", "a", "-", ""}, ""},
    };
    for (const auto& [arguments, expected] : cases) {
        EXPECT_EQ(handle(arguments), "");
        EXPECT_EQ(flags(), expected);
        EXPECT_EQ(fs::current_path(), start);
    }
    EXPECT_EQ(handle({"-a", scratch.string(), "no-such-directory", "first", "-pv", "second"}), "");
    EXPECT_EQ(flags(), "pv a ");
    EXPECT_EQ(fs::current_path(), fs::canonical(scratch / "first" / "second"));
    fs::current_path(start);
    fs::remove_all(scratch);
}

TEST(StandardStart, MadeAndRecognised) {
    ByteBoard board;
    board.fill(7);
    set_standard_start(board);
    for (int s = 1; s <= 50; ++s)
        EXPECT_EQ(board[s - 1], s <= 20 ? -1 : s <= 30 ? 0 : 1) << "square " << s;
    EXPECT_FALSE(differs_from_standard_start(board));
    for (int s : {1, 20, 21, 30, 31, 50}) {
        ByteBoard changed = board;
        changed[s - 1] = changed[s - 1] == 0 ? 1 : 0;
        EXPECT_TRUE(differs_from_standard_start(changed)) << "square " << s;
    }
    board[49] = 2; // a king where a man stands
    EXPECT_TRUE(differs_from_standard_start(board));
}

TEST(PieceCountTest, FewerThanSixPiecesGiveZero) {
    fill_bit_count_table();
    Position position{};
    EXPECT_EQ(piece_count_test(position), 0);
    // Pieces on squares in all four 16-bit quarters of the masks.
    const int squares[] = {1, 20, 31, 50, 45, 12};
    for (int i = 0; i < 6; ++i) {
        uint64_t& side = i % 2 ? position.white : position.black;
        side |= square_mask[squares[i] - 1];
        if (i == 2) position.kings |= square_mask[squares[i] - 1];
        EXPECT_EQ(piece_count_test(position), i + 1 < 6 ? 0 : 3) << i + 1 << " pieces";
    }
}

} // namespace
