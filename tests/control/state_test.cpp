// The command line, the standard start and the piece count test.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "control/control.h"

namespace fs = std::filesystem;

namespace {

class Arguments : public testing::Test {
  protected:
    fs::path start_directory;
    fs::path scratch;

    void SetUp() override {
        options = Options{};
        start_directory = fs::current_path();
        std::random_device random;
        scratch = fs::temp_directory_path() / ("kavro-control-" + std::to_string(random()));
        fs::create_directories(scratch / "first" / "second");
    }
    void TearDown() override {
        fs::current_path(start_directory);
        fs::remove_all(scratch);
    }

    // Runs the arguments as the program would get them; gives what was printed.
    std::string handle(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "kavro-dxp");
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        testing::internal::CaptureStdout();
        handle_arguments(int(argv.size()), argv.data());
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

bool no_option(const Options& o) {
    return !o.send_pv && !o.send_pv_all && !o.adjudicate && !o.skip_engine_test;
}

TEST_F(Arguments, NoArgumentsSetNothing) {
    EXPECT_EQ(handle({}), "");
    EXPECT_TRUE(no_option(options));
    EXPECT_EQ(fs::current_path(), start_directory);
}

TEST_F(Arguments, EachOptionSetsItsOwnFlagOnly) {
    handle({"-pvall"});
    EXPECT_TRUE(options.send_pv_all);
    EXPECT_FALSE(options.send_pv);
    options = Options{};
    handle({"-pv"});
    EXPECT_TRUE(options.send_pv);
    EXPECT_FALSE(options.send_pv_all);
    options = Options{};
    handle({"-a", "-t"});
    EXPECT_TRUE(options.adjudicate);
    EXPECT_TRUE(options.skip_engine_test);
    EXPECT_FALSE(options.send_pv || options.send_pv_all);
}

TEST_F(Arguments, NearMissesAreDirectoriesThatSilentlyFail) {
    EXPECT_EQ(handle({"-PV", "-pv ", "-pva", "-A", "-tt", "a", "-", ""}), "");
    EXPECT_TRUE(no_option(options));
    EXPECT_EQ(fs::current_path(), start_directory);
}

TEST_F(Arguments, DirectoriesAreEnteredInTurnWithOptionsAnywhere) {
    EXPECT_EQ(handle({"-a", scratch.string(), "no-such-directory", "first", "-pv", "second"}), "");
    EXPECT_TRUE(options.adjudicate);
    EXPECT_TRUE(options.send_pv);
    EXPECT_EQ(fs::current_path(), fs::canonical(scratch / "first" / "second"));
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
