// The stand-in engine: its search checked by an independent material referee, repetition,
// stopping, its settings file, and its commands on its own memory map, in this process.
#include <algorithm>
#include <bit>
#include <cstring>
#include <random>

#include "board/movegen.h"
#include "engine/engine.h"
#include "standin/config.h"
#include "standin/memory_map.h"
#include "standin/standin.h"
#include "tests/unit/support.h"

namespace {

int material(const Position& p, int white) { // men, a king counting three, for the side to move
    const int w = std::popcount(p.white) + 2 * std::popcount(p.white & p.kings);
    const int b = std::popcount(p.black) + 2 * std::popcount(p.black & p.kings);
    return white ? w - b : b - w;
}

// Material-only minimax that plays captures out: what a move wins by force.
int referee(const Position& p, int white, int depth, int alpha, int beta, int ply = 0) {
    static MoveList lists[64];
    int count = generate_captures(p, white, lists[ply], nullptr);
    if (count == 0 && depth <= 0) return material(p, white);
    if (count == 0 && (count = generate_quiet_moves(p, white, lists[ply])) == 0) return -100;
    for (int i = 0; i < count && alpha < beta; ++i)
        alpha = std::max(
            alpha, -referee(lists[ply].entries[i], !white, depth - 1, -beta, -alpha, ply + 1));
    return alpha;
}

bool legal(const Position& before, int white, const Position& after) {
    static MoveList list;
    Position* end = list.entries + legal_moves(before, white, list);
    return std::find(list.entries, end, after) != end;
}

SearchReport search(const Position& p, int white, int depth, const Position* history = nullptr,
                    int count = 0) {
    SearchLimits limits;
    limits.max_depth = depth;
    limits.max_nodes = 200000;
    search_clear();
    return search_position(p, white, limits, history, count);
}

TEST(Search, WinsMaterialPlaysOnlyLegalMovesAndStops) {
    ASSERT_FALSE(search_init(8));
    // Quiet positions where one or two moves win two men by force within six plies.
    for (const char* position :
         {"B:W12,16,18,28,37,38,39,41,42,44,45,47,49,50:B1,2,5,7,10,11,15,29.",
          "W:W14,36,37,40,41,42,44,46,49,50:B2,5,6,11,12,15,17.",
          "B:W26,35,40,42,47,48,49:B1,2,3,4,5,6,7,8,13,14,15,17,18,39."}) {
        int white;
        const Position p = fen(position, &white);
        EXPECT_GE(-referee(search(p, white, 9).best, !white, 5, -1000, 1000),
                  material(p, white) + 2)
            << position;
    }
    std::mt19937 rng(7);
    static MoveList list;
    for (int game = 0; game < 100; ++game) { // random positions: every move of the line is legal
        int white = 1;
        Position p = fen("W:W31-50:B1-20");
        for (int ply = int(rng() % 150); ply > 0 && legal_moves(p, white, list); --ply, white ^= 1)
            p = list.entries[rng() % uint32_t(list.count)];
        const SearchReport r = search(p, white, 5);
        ASSERT_EQ(r.has_move, legal_moves(p, white, list) > 0);
        EXPECT_TRUE(!r.has_move || r.line.after[0] == r.best);
        for (int k = 0; k < r.line.length; p = r.line.after[k++], white ^= 1)
            ASSERT_TRUE(legal(p, white, r.line.after[k])) << "line move " << k;
    }
    EXPECT_EQ(search(fen("W:W28:B23"), 1, 10).score, score_win - 1);
    EXPECT_EQ(search(fen("W:W46:B41,37"), 1, 4).score, -score_win); // blocked: no move
    for (int polls : {0, 3}) { // told to stop: still a legal move to play
        SearchLimits limits;
        limits.context = &polls;
        limits.should_stop = [](void* c, bool) { return --*static_cast<int*>(c) < 0; };
        EXPECT_TRUE(legal(fen("W:W31-50:B1-20"), 1,
                          search_position(fen("W:W31-50:B1-20"), 1, limits).best));
    }
}

TEST(Search, ReturningToAPositionOfTheGameIsADraw) {
    ASSERT_FALSE(search_init(8));
    // White is well ahead (more than the three pieces the rules hold to a draw against a lone
    // king); its choice x lets a black king move y bring back a position.
    const Position root = fen("W:WK17,26,27,36,37:BK20.");
    const SearchReport free = search(root, 1, 6);
    ASSERT_GT(free.score, 200);
    static MoveList replies;
    const int count = legal_moves(free.best, 0, replies);
    int reply = 0;
    while (reply < count && move_is_irreversible(free.best, replies.entries[reply], 0)) ++reply;
    ASSERT_LT(reply, count);
    const Position y = replies.entries[reply];
    const uint64_t from = free.best.black & ~y.black, to = y.black & ~free.best.black;
    Position h1 = root; // the root after y alone
    h1.black = (h1.black & ~from) | to;
    h1.kings = (h1.kings & ~from) | to;
    const Position game[2] = {y, h1}, other_sides[2] = {h1, y};
    const SearchReport avoided = search(root, 1, 6, game, 2);
    EXPECT_NE(avoided.best, free.best);
    EXPECT_GT(avoided.score, 200);
    EXPECT_EQ(search(root, 1, 6, other_sides, 2).best, free.best);
}

TEST(Standin, SettingsFile) {
    const std::pair<const char*, std::string> rows[] = {
        {"  max_depth =  12  # shallow", "1000 12 32 0 0 0 0"},
        {"fault=die_after_moves=3", "1000 64 32 5 3 0 0"},
        {"# only a comment", "1000 64 32 0 0 0 0"},
        {"fault = slow_start=4500", "1000 64 32 0 0 4500 0"},
        {"fault=outlive_server", "1000 64 32 0 0 0 1"},
        {"fault=slow_start=600001", "winkavro.ini: unknown fault \"slow_start=600001\"\n"},
        {"fault=slow_start=", "winkavro.ini: unknown fault \"slow_start=\"\n"},
        {"movetime_ms=10x",
         "winkavro.ini: movetime_ms must be a whole number from 1 to 3600000, not \"10x\"\n"},
        {"speed=3", "winkavro.ini: unknown key \"speed\"\n"},
        {"movetime_ms 200", "winkavro.ini: no '=' in \"movetime_ms 200\"\n"},
    };
    for (const auto& [line, expected] : rows) {
        StandinConfig c;
        bool failed = false;
        const std::string out = printed([&] { failed = apply_config_line(line, c); });
        EXPECT_EQ(failed ? out
                         : join(c.movetime_ms, c.max_depth, c.hash_megabytes, int(c.fault),
                                c.die_after_moves, c.slow_start_ms, c.outlive_server),
                  expected);
    }
}

TEST(Standin, CommandsOnItsMemoryMap) {
    ASSERT_FALSE(acquire_memory_map()); // at the server's addresses
    EXPECT_EQ(join(map_setup_board, map_game_board, map_command_text, map_command_flag,
                   map_command_flag2, map_player_plays_black, map_player_plays_white,
                   map_analysis_from, map_analysis_to, map_score),
              join(kavro_setup_board, kavro_game_board, kavro_command_text, kavro_command_flag,
                   kavro_command_flag2, kavro_player_plays_black, kavro_player_plays_white,
                   kavro_analysis_from, kavro_analysis_to, kavro_score));
    int from, via, to;
    for (const char* bad : {"31", "31-26x", "60-55", "0-5", "31-26-22-17", "131-26", "31--26"})
        EXPECT_TRUE(parse_move_text(bad, from, via, to)) << bad;
    start_standin();
    auto shown = [] { return *reinterpret_cast<const ByteBoard*>(uintptr_t(map_game_board)); };
    EXPECT_EQ(shown(), board_of("W:W31-50:B1-20"));
    const std::pair<const char*, const char*> commands[] = {
        {"13-24", "W:WK13:B18,30,32,37"}, // not legal: nothing happens
        {"13-32-25", "B:WK25:B37"},       {"13-37-25", "B:WK25:B32"},
        {"13-25", "B:WK25:B37"},          {"13-31-25", "W:WK13:B18,30,32,37"},
    };
    const EngineBoard setup = engine_board_of(board_of("W:WK13:B18,30,32,37"));
    for (const auto& [command, after] : commands) {
        map_write(map_setup_board, setup.data(), setup.size());
        carry_out_command("n");
        carry_out_command(command);
        EXPECT_EQ(shown(), board_of(after)) << command;
    }
    carry_out_command("kac");
    EXPECT_EQ(map_peek(map_player_plays_black) * 2 + map_peek(map_player_plays_white), 1);
    carry_out_command("kca");
    EXPECT_EQ(map_peek(map_player_plays_black) * 2 + map_peek(map_player_plays_white), 2);
}

} // namespace
