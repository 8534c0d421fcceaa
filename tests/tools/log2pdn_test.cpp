// dxp-log2pdn's reading of the server's log: games, results, custom starts, damaged logs.
#include <string>

#include "tests/tools/support.h"
#include "tools/log2pdn/log2pdn.h"
#include "tools/pdn/pdn.h"

namespace {

struct Converted {
    std::string pdn;
    std::string notes;
};

Converted convert(const std::string& log) {
    ensure_tables();
    FILE* out = tmpfile();
    FILE* notes = tmpfile();
    EXPECT_TRUE(out && notes);
    start_log(out, notes);
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        EXPECT_FALSE(read_log_line(log.substr(start, end - start).c_str()));
        start = end + 1;
    }
    EXPECT_FALSE(finish_log());
    Converted c{read_whole_file(out), read_whole_file(notes)};
    fclose(out);
    fclose(notes);
    return c;
}

GameRecord games[4], match_games[4];

int read_all(const std::string& text, GameRecord* into = games) {
    PdnReader reader;
    start_pdn_reader(reader, text.data(), text.size());
    char error[200];
    int n = 0;
    for (;;) {
        PdnReadResult r = read_pdn_game(reader, into[n], error, sizeof error);
        EXPECT_NE(r, pdn_error) << error;
        if (r != pdn_game) return n;
        if (++n == 4) return n;
    }
}

std::string read_data(const std::string& name) {
    std::string path = std::string(TOOLS_TEST_DATA) + "/" + name;
    FILE* file = fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr) << path;
    if (!file) return "";
    std::string text = read_whole_file(file);
    fclose(file);
    return text;
}

// The shape of the server's lines, as it prints them.
const char* three_games =
    "Window created.\n"
    "Waiting for client connection.\n"
    "DamExchange server has accepted a client connection.\n"
    "Received: \"R01Robot                           Z010050A\"\n"
    "GAMEREQ from Robot; time 10; moves 50; start position is GAYP; Kavro plays black\n"
    "Sent: \"AKavro                           0\"\n"
    "Kavro command: \"kac\"\n"
    "Received: \"M0000322800\"\n"
    "Kavro command: \"32-28\"\n"
    "waitfor_kavro_board_change\n"
    "B:W28,31,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50:B1,2,3,4,5,6,7,8,9,10,"
    "11,12,13,14,15,16,17,18,19,20.\n"
    "value 0.15, pv 19-23 28x19 \n"
    "Sent: \"M0000192300\"\n"
    "Received: \"M000028190123\"\n"
    "Sent: \"CSent: \\\"M0000999900\\\"\"\n" // a relayed line that quotes a move is a CHAT
    "Sent: \"M000014230119\"\n"
    "Received: \"E20\"\n"
    "Received: \"R01Robot                           W010050BW"
    "eeeeeeeeeeeeeeeeezzeeeeeeeeeeeeewweeeeeeeeeeeeeeee\"\n"
    "GAMEREQ from Robot; time 10; moves 50; start position is custom setup; Kavro plays white\n"
    "Sent: \"AKavro                           0\"\n"
    "Kavro command: \"n\"\n"
    "Sent: \"M0000332800\"\n"
    "Received: \"M0000182200\"\n"
    "Draw count 1\n"
    "Win declared.\n"
    "Sent: \"E30\"\n"
    "Received: \"E00\"\n"
    "Received: \"R01Robot                           Z010050A\"\n"
    "Sent: \"AKavro                           0\"\n"
    "Received: \"M0000322800\"\n"
    "Sent: \"M0000192300\"\n"
    "Received: \"Chello\"\n"
    "Received: \"B001W\"\n"
    "Sent: \"K1\"\n"
    "Received: DXP_CONNECTIONLOST\n";

TEST(LogToPdn, GamesResultsAndCustomStartsComeOutOfTheLog) {
    Converted c = convert(three_games);
    EXPECT_EQ(c.notes, "");
    EXPECT_EQ(log_summary.games, 3);
    ASSERT_EQ(read_all(c.pdn), 3) << c.pdn;

    // Game 1: Kavro black; the client's GAMEEND says draw.
    EXPECT_STREQ(games[0].white, "Robot");
    EXPECT_STREQ(games[0].black, "Kavro");
    EXPECT_STREQ(games[0].result, "1-1");
    EXPECT_FALSE(games[0].custom_start);
    EXPECT_STREQ(games[0].round, "1");
    EXPECT_NE(c.pdn.find("1. 32-28 19-23 2. 28x19 14x23 1-1"), std::string::npos) << c.pdn;

    // Game 2: Kavro white from a given position, its own declared win.
    EXPECT_STREQ(games[1].white, "Kavro");
    EXPECT_STREQ(games[1].black, "Robot");
    EXPECT_STREQ(games[1].result, "2-0");
    EXPECT_EQ(games[1].ply_count, 2);
    EXPECT_NE(c.pdn.find("[FEN \"W:W33,34:B18,19\"]"), std::string::npos) << c.pdn;

    // Game 3: the connection went: no result.
    EXPECT_STREQ(games[2].result, "*");
    EXPECT_EQ(games[2].ply_count, 2);
}

TEST(LogToPdn, DeclaredResultsReadFromBothSides) {
    const struct {
        const char* kavro_colour;
        const char* end_line;
        const char* result;
    } cases[] = {
        {"Z", "Sent: \"E10\"", "2-0"},     // Kavro (black) lost
        {"Z", "Sent: \"E30\"", "0-2"},     // Kavro (black) won
        {"W", "Sent: \"E10\"", "0-2"},     // Kavro (white) lost
        {"W", "Received: \"E10\"", "2-0"}, // the client (black) lost
        {"W", "Received: \"E30\"", "0-2"}, // the client (black) won
        {"W", "Received: \"E00\"", "*"},   // the client ended without a result
        {"Z", "Sent: \"E20\"", "1-1"},
    };
    for (const auto& c : cases) {
        std::string log = std::string("Received: \"R01Robot                           ") +
                          c.kavro_colour + "010050A\"\n" + c.end_line + "\n" +
                          "Received: \"E20\"\n"; // the client's answer changes nothing
        Converted out = convert(log);
        ASSERT_EQ(read_all(out.pdn), 1) << log;
        EXPECT_STREQ(games[0].result, c.result) << log;
    }
}

TEST(LogToPdn, LinesThatDoNotFitTheirGameAreNotedAndTheGameKeptUpToThem) {
    const std::string log = "Received: \"R01Robot                           Z010050A\"\n"
                            "Received: \"M0000322800\"\n"
                            "Sent: \"M0000192300\"\n"
                            "Received: \"M0000282300\"\n" // must capture: not legal
                            "cannot match from and to squares of received move.\n"
                            "Received: \"R01Robot                           Z010050A\"\n"
                            "Sent: \"M0000192300\"\n" // Kavro is black: not its turn
                            "Received: \"R01Robot                           Z010050BW"
                            "eeee\"\n" // cut short
                            "Received: \"R01Robot                           Z010050A\"\n"
                            "Received: \"M00003228\"\n"
                            "Received: \"E30\"\n";
    Converted c = convert(log);
    EXPECT_EQ(log_summary.problems, 4);
    for (const char* note :
         {"line 4, game 1: a move that is not legal here", "line 7, game 2: a move out of turn",
          "line 8, game 3: a game request of the wrong length",
          "line 10, game 4: a malformed move"})
        EXPECT_NE(c.notes.find(note), std::string::npos) << c.notes;
    ASSERT_EQ(read_all(c.pdn), 3) << c.pdn;
    EXPECT_EQ(games[0].ply_count, 2);
    EXPECT_STREQ(games[0].result, "*");
    EXPECT_EQ(games[1].ply_count, 0);
    EXPECT_STREQ(games[2].result, "*"); // E30 after a damaged move: not trusted
}

// Logs of real server runs against dxp-match, kept with the games dxp-match wrote then.
TEST(LogToPdn, RealServerLogsGiveTheGamesTheMatchRecorded) {
    const struct {
        const char* log;
        const char* pdn;
        int games;
    } runs[] = {{"server-endgames.log", "match-endgames.pdn", 4},
                {"server-standard.log", "match-standard.pdn", 2}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.log);
        Converted c = convert(read_data(run.log));
        EXPECT_EQ(c.notes, "");
        ASSERT_EQ(read_all(c.pdn), run.games) << c.pdn;
        ASSERT_EQ(read_all(read_data(run.pdn), match_games), run.games);
        for (int g = 0; g < run.games; ++g) {
            SCOPED_TRACE(g);
            const GameRecord& from_log = games[g];
            const GameRecord& played = match_games[g];
            EXPECT_STREQ(from_log.white, played.white);
            EXPECT_STREQ(from_log.black, played.black);
            EXPECT_STREQ(from_log.result, played.result);
            // When dxp-match ended a game after its own move, the server had already
            // answered that move: the log holds that one reply more.
            GameRecord common = from_log;
            ASSERT_GE(common.ply_count, played.ply_count);
            EXPECT_LE(common.ply_count, played.ply_count + 1);
            common.ply_count = played.ply_count;
            expect_same_game(common, played);
        }
    }
    // What the runs hold: custom starts with both colours for Kavro, a capture of three.
    Converted c = convert(read_data("server-endgames.log"));
    ASSERT_EQ(read_all(c.pdn), 4);
    EXPECT_TRUE(games[0].custom_start);
    EXPECT_STREQ(games[1].white, "Kavro");
    EXPECT_NE(c.pdn.find("23x34"), std::string::npos);
}

} // namespace
