// The match tools: PDN written and read back, the draw rules, the Elo table, dxp-match's
// options, dxp-match refereeing scripted followers, and dxp-log2pdn on two recorded server
// logs.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>

#include "tests/unit/support.h"
#include "tools/dxp_match/match.h"
#include "tools/log2pdn/log2pdn.h"
#include "tools/pdn/pdn.h"

namespace {

LegalMoves legal;
GameRecord game, back;

// Plays moves given in PDN notation.
void play(const char* moves) {
    std::istringstream in(moves);
    for (std::string move; in >> move;) {
        list_legal_moves(game_position(game), game_white_to_move(game), legal);
        char error[200];
        const int i = parse_move(move.c_str(), legal, error, sizeof error);
        ASSERT_GE(i, 0) << move << ": " << error;
        GameMove m;
        describe_move(legal, i, m);
        ASSERT_FALSE(add_move(game, m));
    }
}

void start(const char* position) {
    int white;
    const Position p = fen(position, &white);
    start_game(game, p, white, std::strcmp(position, "W:W31-50:B1-20") != 0);
}

// Reads every game of a PDN text; the games are compared by their written form.
std::vector<std::string> read_games(const std::string& text) {
    PdnReader reader;
    start_pdn_reader(reader, text.data(), text.size());
    char error[200];
    std::vector<std::string> games;
    for (PdnReadResult r; (r = read_pdn_game(reader, back, error, sizeof error)) == pdn_game;) {
        FILE* file = tmpfile();
        write_pdn_game(file, back);
        games.push_back(contents(file));
        fclose(file);
    }
    if (games.empty() || error[0]) games.push_back(error);
    return games;
}

TEST(Pdn, TrickyGamesWrittenAndReadBack) {
    const struct {
        const char *start, *moves, *result, *written;
    } rows[] = {
        {"W:W31-50:B1-20", "32-28 19-23 28x19 14x23", "0-2", "1. 32-28 19-23 2. 28x19 14x23 0-2"},
        {"W:WK13:B18,30,32,37", "13x18x37x30x25 32-38", "*",
         "[FEN \"W:WK13:B18,30,32,37\"]\n\n1. 13x18x37x30x25 32-38 *"},
        {"B:W28,6:B23,K50", "23x32 6-1 32-37 1-45", "1-1", "1... 23x32 2. 6-1 32-37 3. 1-45 1-1"},
        {"W:WK43:B14,18,19,39", "43x39x14x18x31", "2-0", "1. 43x39x14x18x31 2-0"},
        {"W:WK46:B32,18", "46x12", "2-0", "1. 46x12 2-0"},
        {"W:W37:B21,22,31,32", "37x37", "2-0", "1. 37x37 2-0"},
    };
    for (const auto& r : rows) {
        start(r.start);
        play(r.moves);
        set_game_text(game.result, r.result);
        FILE* file = tmpfile();
        ASSERT_FALSE(write_pdn_game(file, game));
        const std::string text = contents(file);
        fclose(file);
        EXPECT_NE(text.find(r.written), std::string::npos) << text;
        EXPECT_EQ(text.find("SetUp") == std::string::npos, !game.custom_start) << text;
        EXPECT_EQ(read_games(text), std::vector<std::string>{text});
    }
    // Other writers' forms are read too; bad files are refused with their line.
    const char* const read_rows[][2] = {
        {"[Result \"1-1\"]\n1.32-28 {a\ncomment} 19-23! 2. 28x19 (2. 33-29) $3 14x23 ; rest\n"
         "3. ... 1-1\n",
         "1. 32-28 19-23 2. 28x19 14x23 1-1"},
        {"[FEN \"W:WK46:B32,18\"]\n1. 46x23x12 *\n", "1. 46x12 *"},
        {"1. 32-28 28-23 *", "not a legal move"},
        {"[Event \"x\"]\n\n1. 32-28 19-23\n2. 28-22 *\n", "line 4: move 3"},
        {"[Result \"2-0\"]\n1. 32-28 0-2\n", "differ"},
        {"[FEN \"W:WK13:B18,30,32,37\"]\n1. 13x25 *", "more than one"},
    };
    for (const auto& [text, expected] : read_rows)
        EXPECT_NE(read_games(text)[0].find(expected), std::string::npos) << text;
}

TEST(Pdn, DrawRules) {
    start("W:WK1,35:BK50"); // the kings shuttle 1-7 and 50-44
    play("1-7 50-44 7-1 44-50 1-7 50-44 7-1");
    EXPECT_FALSE(is_threefold_repetition(game));
    play("44-50");
    EXPECT_TRUE(is_threefold_repetition(game)); // the start, at plies 0, 4 and 8
    play("35-30");
    EXPECT_EQ(join(is_threefold_repetition(game), kings_only_plies(game)), "0 0");
    for (int i = 0; i < 12; ++i) play("50-44 1-7 44-50 7-1");
    play("50-44 1-7");
    EXPECT_EQ(kings_only_plies(game), kings_only_draw_plies);
    start("W:WK50:BK3,23"); // a capture resets the count
    play("50-45 3-9");
    EXPECT_EQ(kings_only_plies(game), 2);
    play("45x4");
    EXPECT_EQ(kings_only_plies(game), 0);
}

TEST(Match, EloTableAndOptions) {
    const struct {
        int wins, draws, losses;
        const char* text;
    } rows[] = {
        {15, 0, 5, "+190.8 +/- 217.6 (95%)"},     {12, 6, 2, "+190.8 +/- 151.7 (95%)"},
        {10, 0, 10, "+0.0 +/- 163.3 (95%)"},      {3, 14, 3, "+0.0 +/- 85.1 (95%)"},
        {0, 20, 0, "+0.0 +/- 0.0 (95%)"},         {10, 0, 0, "+inf (95%: at least +182.7)"},
        {0, 0, 20, "-inf (95%: at most -316.6)"}, {19, 0, 1, "+511.5 (95%: +307.5 to +inf)"},
        {0, 0, 0, "none (no game scored)"},       {5, 10, 15, "-120.4 +/- 108.8 (95%)"},
    };
    for (const auto& r : rows) {
        char text[96];
        format_elo(elo_estimate(r.wins, r.draws, r.losses), text, sizeof text);
        EXPECT_STREQ(text, r.text) << r.wins << " " << r.draws << " " << r.losses;
    }
    const std::string table = printed([] { print_match_table(MatchScore{3, 14, 3, 1, 0}); });
    EXPECT_NE(table.find("     20      3     14       3   50.0%"), std::string::npos) << table;
    EXPECT_NE(table.find("Unfinished games (not scored): 1"), std::string::npos) << table;

    auto parse = [](const std::string& line) {
        Arguments a("dxp-match " + line);
        MatchOptions o{};
        ArgumentResult result = arguments_ok;
        const std::string out =
            printed([&] { result = parse_match_arguments(a.argc(), a.argv.data(), o); });
        if (result == arguments_bad) // one line naming the mistake
            return std::count(out.begin(), out.end(), '\n') == 1 && out.rfind("dxp-match: ", 0) == 0
                       ? "bad"
                       : out;
        return join(o.host, o.port, o.games, o.move_time_ms, o.move_limit,
                    o.player == player_random);
    };
    EXPECT_EQ(parse(""), "127.0.0.1 27531 2 1000 150 0");
    EXPECT_EQ(parse("--games=12 --time 0.25 --player random --port 1234 --moves 80"),
              "127.0.0.1 1234 12 250 80 1");
    for (const char* bad :
         {"--gmaes 3", "--games 0", "--games 3x", "--games", "--time 0", "--player human",
          "--player dxp:h", "--player dxp::5", "--player dxp:h:0", "--port 70000", "--moves 1000",
          "games", "--name nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"})
        EXPECT_EQ(parse(bad), "bad") << bad;
}

// Scripted followers behind dxp-match's link: a transcript of what it sends to a side ("0>"
// the server, "1>" the opponent) and what the sides send ("0<", "1<"; "close" drops the
// connection), in the order they must happen. A step out of order ends the match.
std::vector<std::string> transcript;
size_t transcript_at = 0;

bool scripted_send(int side, const char* text) {
    const bool expected = transcript_at < transcript.size() &&
                          transcript[transcript_at] == std::to_string(side) + ">" + text;
    return expected ? (++transcript_at, false) : true;
}

ReceiveResult scripted_receive(int mask, int& side, char* text, int size, int) {
    const std::string line = transcript_at < transcript.size() ? transcript[transcript_at] : "0>";
    side = line[0] - '0';
    if (line[1] != '<' || !(mask >> side & 1)) return receive_timeout;
    snprintf(text, size_t(size), "%s", transcript[transcript_at++].c_str() + 2);
    return strcmp(text, "close") == 0 ? receive_closed : receive_message;
}

TEST(Match, RefereeScriptedFollowers) {
    const std::string kavro = "AKavro" + std::string(27, ' '),
                      other = "AOther" + std::string(27, ' '),
                      request = "R01dxp-match" + std::string(23, ' ');
    const std::tuple<std::vector<std::string>, const char*, int> rows[] = {
        // The side not to move ends the game: its answer, and its reason to the other side.
        {{"1<" + other + "0", "1<M0000322800", "0>M0000322800", "1<E10", "1>E00", "0>E10",
          "0<M0000192300", "0<E00"},
         "0-2 (Other (opponent) ended the game, its loss, 1 moves)",
         0},
        // A refusal, a move out of turn: that side's loss, and the other side is told.
        {{"1<" + other + "1", "0>E10", "0<E00"},
         "Game 1 was refused by the opponent Other at h:2, acceptance code 1.",
         1},
        {{"1<" + other + "0", "0<M0000192300", "0>E30", "1>E10", "1<E00"},
         "Move out of turn from the server Kavro at 127.0.0.1:27531 in game 1",
         1},
    };
    for (const auto& [lines, line, status_wanted] : rows) {
        Arguments a("dxp-match --player dxp:h:2 --games 1 --moves 1");
        MatchOptions o{};
        ASSERT_EQ(parse_match_arguments(a.argc(), a.argv.data(), o), arguments_ok);
        ballot.count = 0;
        transcript = {"0>" + request + "Z001001A", "1>" + request + "W001001A", "0<" + kavro + "0"};
        transcript.insert(transcript.end(), lines.begin(), lines.end());
        transcript_at = 0;
        match_link = MatchLink{scripted_send, scripted_receive, [](int) {}};
        FILE* pdn = tmpfile();
        int status = -1;
        const std::string out = printed([&] { status = play_match(o, pdn); });
        EXPECT_NE(out.find(line), std::string::npos) << out;
        EXPECT_EQ(join(status, transcript_at, read_games(contents(pdn)).size()),
                  join(status_wanted, transcript.size(), 1))
            << out;
        fclose(pdn);
    }
}

std::string data(const std::string& name) {
    std::ifstream in(UNIT_DATA "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The games dxp-match recorded in two real runs come back out of the server's logs. When
// dxp-match ended a game after its own move, the server's reply is one ply more in the log.
TEST(LogToPdn, RecordedServerLogs) {
    for (const char* run : {"endgames", "standard"}) {
        FILE* out = tmpfile();
        FILE* notes = tmpfile();
        start_log(out, notes);
        std::istringstream log(data("server-" + std::string(run) + ".log"));
        for (std::string line; std::getline(log, line);) EXPECT_FALSE(read_log_line(line.c_str()));
        EXPECT_FALSE(finish_log());
        EXPECT_EQ(contents(notes), "");
        const std::vector<std::string> from_log = read_games(contents(out)),
                                       played =
                                           read_games(data("match-" + std::string(run) + ".pdn"));
        fclose(out);
        fclose(notes);
        ASSERT_EQ(from_log.size(), played.size()) << run;
        for (size_t g = 0; g < played.size(); ++g) {
            auto tokens = [](const std::string& text) {
                return Arguments(text.substr(text.find("[White"))).words;
            };
            const std::vector<std::string> a = tokens(from_log[g]), b = tokens(played[g]);
            ASSERT_GE(a.size(), b.size()) << run << g;
            EXPECT_LE(a.size(), b.size() + 2) << run << g;
            EXPECT_EQ(a.back(), b.back()) << run << g; // the result
            EXPECT_TRUE(std::equal(b.begin(), b.end() - 1, a.begin())) << from_log[g] << played[g];
        }
    }
}

} // namespace
