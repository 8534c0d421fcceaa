// The stand-in's settings file and its copy of the memory map.
#include <gtest/gtest.h>

#include <tuple>

#include "engine/engine.h"
#include "standin/config.h"
#include "standin/memory_map.h"
#include "tests/platform/scratch_dir.h"

namespace {

// The stand-in keeps its own copy of the addresses; it must be the server's, and every field
// must lie inside the mapped pages with all its bytes.
TEST(MemoryMap, AddressesAreTheServersAndInsideTheMap) {
    EXPECT_EQ(map_begin, kavro_map_begin);
    EXPECT_EQ(map_end, kavro_map_end);
    EXPECT_EQ(map_analysis_length, kavro_analysis_length);
    EXPECT_EQ(map_end_of_line, kavro_end_of_line);
    const std::tuple<uint32_t, uint32_t, uint32_t> fields[] = {
        {map_setup_board, kavro_setup_board, 54},
        {map_game_board, kavro_game_board, 50},
        {map_command_text, kavro_command_text, map_command_size},
        {map_command_flag, kavro_command_flag, 1},
        {map_command_flag2, kavro_command_flag2, 1},
        {map_player_plays_black, kavro_player_plays_black, 1},
        {map_player_plays_white, kavro_player_plays_white, 1},
        {map_analysis_from, kavro_analysis_from, 24},
        {map_analysis_to, kavro_analysis_to, 24},
        {map_score, kavro_score, 2}};
    for (auto [address, server_address, size] : fields) {
        EXPECT_EQ(address, server_address);
        EXPECT_GE(address, map_begin);
        EXPECT_LE(address + size, map_end);
    }
}

TEST(MemoryMap, SquareCodesAreSetupIndexesPlusSix) {
    EXPECT_EQ(square_code(1), 6);
    EXPECT_EQ(square_code(10), 15);
    EXPECT_EQ(square_code(11), 17); // index 10 is a border byte
    EXPECT_EQ(square_code(50), 59);
}

StandinConfig parsed(const char* line, bool& failed) {
    StandinConfig config;
    failed = apply_config_line(line, config);
    return config;
}

TEST(Config, KeysValuesBlanksAndComments) {
    bool failed = true;
    EXPECT_EQ(parsed("movetime_ms=250", failed).movetime_ms, 250);
    EXPECT_FALSE(failed);
    EXPECT_EQ(parsed("  max_depth =  12  # shallow", failed).max_depth, 12);
    EXPECT_FALSE(failed);
    EXPECT_EQ(parsed("hash_megabytes=8", failed).hash_megabytes, 8);
    for (const char* line : {"# only a comment", "   "}) {
        EXPECT_EQ(parsed(line, failed).movetime_ms, 1000);
        EXPECT_FALSE(failed) << line;
    }
}

TEST(Config, BadLinesAreRefusedAndLeaveTheDefault) {
    for (const char* line :
         {"movetime_ms=", "movetime_ms=fast", "movetime_ms=10x", "movetime_ms=0", "movetime_ms=-5",
          "movetime_ms=99999999999999", "max_depth=101", "speed=3", "movetime_ms 200", "=200"}) {
        bool failed = false;
        StandinConfig config = parsed(line, failed);
        EXPECT_TRUE(failed) << line;
        EXPECT_EQ(config.movetime_ms, 1000) << line;
        EXPECT_EQ(config.max_depth, 64) << line;
    }
}

TEST(Config, FileIsOptionalAndReadLineByLine) {
    ScratchDir dir;
    standin_config = StandinConfig{};
    EXPECT_FALSE(read_config("winkavro.ini")); // missing: defaults
    EXPECT_EQ(standin_config.movetime_ms, 1000);
    EXPECT_EQ(standin_config.max_depth, 64);

    std::string overlong = "# " + std::string(600, 'x') + " max_depth=3\n";
    dir.write_file("winkavro.ini", "movetime_ms=40\r\nnonsense\n" + overlong + "max_depth=7");
    EXPECT_FALSE(read_config("winkavro.ini"));
    EXPECT_EQ(standin_config.movetime_ms, 40); // a Windows line end is fine
    EXPECT_EQ(standin_config.max_depth, 7);    // last line without a line end; the tail of the
                                               // overlong comment was not read as a line
    standin_config = StandinConfig{};
}

} // namespace
