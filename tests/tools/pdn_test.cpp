// PDN notation, writing and reading back.
#include <string>

#include "tests/tools/support.h"
#include "tools/pdn/pdn.h"

namespace {

LegalMoves legal;
GameRecord game, back, scratch;

void list(const char* fen) {
    int wtm = 0;
    Position p = fen_position(fen, wtm);
    list_legal_moves(p, wtm, legal);
}

int parsed(const char* fen, const char* text, std::string* error = nullptr) {
    list(fen);
    char why[200] = "";
    int index = parse_move(text, legal, why, sizeof why);
    if (error) *error = why;
    return index;
}

// Reads exactly one game from text into back; returns the error text when reading fails.
std::string read_one(const std::string& text) {
    PdnReader reader;
    start_pdn_reader(reader, text.data(), text.size());
    char error[200] = "";
    PdnReadResult result = read_pdn_game(reader, back, error, sizeof error);
    if (result != pdn_game) return result == pdn_end ? "no game" : error;
    EXPECT_EQ(read_pdn_game(reader, scratch, error, sizeof error), pdn_end) << error;
    return "";
}

// Writes game, reads it back into back and checks it is the same game; returns the text.
std::string written_and_read_back() {
    FILE* file = tmpfile();
    EXPECT_NE(file, nullptr);
    EXPECT_FALSE(write_pdn_game(file, game));
    std::string text = read_whole_file(file);
    fclose(file);
    EXPECT_EQ(read_one(text), "") << text;
    expect_same_game(game, back);
    return text;
}

void start(const char* fen) {
    int wtm = 0;
    Position p = fen_position(fen, wtm);
    start_game(game, p, wtm, true);
}

TEST(Notation, ShortUnlessAmbiguousThenEveryCapturedSquareInOrder) {
    const struct {
        const char* fen;
        int from, to;
        std::initializer_list<int> taken;
        const char* expected;
    } cases[] = {
        {"W:W31-50:B1-20", 32, 28, {}, "32-28"},
        {"B:W28:B23", 23, 32, {28}, "23x32"},
        {"B:W23:B28", 28, 19, {23}, "28x19"}, // backwards
        {"W:W6:B20", 6, 1, {}, "6-1"},        // promotion
        // Two ways from 46 over 32 and 18: the end squares differ, so short is enough.
        {"W:WK46:B32,18", 46, 12, {32, 18}, "46x12"},
        // Four pieces taken round a square, back to the start.
        {"W:W37:B21,22,31,32", 37, 37, {32, 22, 21, 31}, "37x37"},
        {"W:WK13:B18,30,32,37", 13, 25, {18, 32, 30}, "13x18x32x30x25"},
        {"W:WK13:B18,30,32,37", 13, 25, {18, 37, 30}, "13x18x37x30x25"},
        {"W:WK43:B14,18,19,39", 43, 22, {39, 19, 18}, "43x39x19x18x22"},
        {"W:WK43:B14,18,19,39", 43, 31, {39, 14, 18}, "43x39x14x18x31"},
    };
    for (const auto& c : cases) {
        list(c.fen);
        int index = listed(legal, c.from, c.to, c.taken);
        ASSERT_GE(index, 0) << c.expected;
        char text[80];
        format_move(legal, index, text, sizeof text);
        EXPECT_STREQ(text, c.expected);
    }
}

TEST(Notation, ReadingFindsTheMoveOrSaysWhy) {
    const char* k13 = "W:WK13:B18,30,32,37";
    const int a = parsed(k13, "13x18x32x30x25"), b = parsed(k13, "13x18x37x30x25");
    ASSERT_TRUE(a >= 0 && b >= 0 && a != b);
    EXPECT_EQ(parsed(k13, "13x30x32x18x25"), a); // captured squares in any order
    EXPECT_EQ(parsed(k13, "13X18X32X30X25"), a);
    EXPECT_EQ(parsed(k13, "13x32x25"), -1); // every captured square, or none
    std::string error;
    EXPECT_EQ(parsed(k13, "13x25", &error), -1);
    EXPECT_NE(error.find("more than one"), std::string::npos) << error;
    EXPECT_EQ(parsed(k13, "13x24", &error), -1);
    EXPECT_NE(error.find("not a legal move"), std::string::npos) << error;

    const char* start = "W:W31-50:B1-20";
    EXPECT_GE(parsed(start, "32-28"), 0);
    EXPECT_EQ(parsed(start, "32-28"), parsed(start, "32x28")); // separator is not checked
    for (const char* bad : {"", "32", "32-", "-28", "3228", "132-28", "32-28-", "32--28", "0-5",
                            "32-51", "32_28", "a-b", "19-23"})
        EXPECT_EQ(parsed(start, bad), -1) << bad;

    // The other full form: the squares where the piece lands on its way.
    const char* k46 = "W:WK46:B32,18";
    EXPECT_GE(parsed(k46, "46x23x12"), 0);
    EXPECT_EQ(parsed(k46, "46x23x12"), parsed(k46, "46x12"));
    EXPECT_EQ(parsed(k46, "46x22x12"), -1);
}

TEST(PdnWriting, CustomStartWithAnAmbiguousCaptureIsWrittenExactly) {
    start("W:WK13:B18,30,32,37");
    const char* values[] = {"Test match", "127.0.0.1:27531", "2024.05.06",
                            "3",          "dxp-match",       "Kavro"};
    set_game_text(game.event, values[0]);
    set_game_text(game.site, values[1]);
    set_game_text(game.date, values[2]);
    set_game_text(game.round, values[3]);
    set_game_text(game.white, values[4]);
    set_game_text(game.black, values[5]);
    play(game, legal, 13, 25, {18, 37, 30});
    play(game, legal, 32, 38);
    set_game_text(game.result, "*");
    EXPECT_EQ(written_and_read_back(), "[Event \"Test match\"]\n"
                                       "[Site \"127.0.0.1:27531\"]\n"
                                       "[Date \"2024.05.06\"]\n"
                                       "[Round \"3\"]\n"
                                       "[White \"dxp-match\"]\n"
                                       "[Black \"Kavro\"]\n"
                                       "[Result \"*\"]\n"
                                       "[GameType \"20\"]\n"
                                       "[SetUp \"1\"]\n"
                                       "[FEN \"W:WK13:B18,30,32,37\"]\n"
                                       "\n"
                                       "1. 13x18x37x30x25 32-38 *\n"
                                       "\n");
    const char* read_back[] = {back.event, back.site,  back.date,
                               back.round, back.white, back.black};
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(read_back[i], values[i]);
}

TEST(PdnWriting, BlackToMoveStartsWithAnEllipsisAndPromotionsSurvive) {
    start("B:W28,6:B23,K50");
    play(game, legal, 23, 32, {28});
    play(game, legal, 6, 1); // crowned
    play(game, legal, 32, 37);
    play(game, legal, 1, 45); // the new king flies the diagonal
    set_game_text(game.result, "1-1");
    std::string text = written_and_read_back();
    EXPECT_NE(text.find("1... 23x32 2. 6-1 32-37 3. 1-45 1-1\n"), std::string::npos) << text;
    EXPECT_NE(back.moves[1].after.kings & square_mask[0], 0u);
}

TEST(PdnWriting, StandardStartHasNoSetUpAndNamesAreEscaped) {
    start_game(game, standard_start_position, 1, false);
    set_game_text(game.white, "Bob \"the\" \\bot\\");
    set_game_text(game.black, "tab\there");
    play(game, legal, 32, 28);
    play(game, legal, 19, 23);
    play(game, legal, 28, 19, {23});
    play(game, legal, 14, 23, {19});
    set_game_text(game.result, "0-2");
    std::string text = written_and_read_back();
    EXPECT_EQ(text.find("SetUp"), std::string::npos);
    EXPECT_EQ(text.find("FEN"), std::string::npos);
    EXPECT_NE(text.find("[White \"Bob \\\"the\\\" \\\\bot\\\\\"]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Black \"tab here\"]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n1. 32-28 19-23 2. 28x19 14x23 0-2\n"), std::string::npos) << text;
    EXPECT_STREQ(back.white, "Bob \"the\" \\bot\\");
}

TEST(PdnWriting, ARecordWhoseMovesDoNotFollowIsRefusedAndNothingIsWritten) {
    start_game(game, standard_start_position, 1, false);
    play(game, legal, 32, 28);
    play(game, legal, 19, 23);
    game.moves[1].to = 24; // 19-24 was not played
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(write_pdn_game(file, game));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Move 2"), std::string::npos) << out;
    EXPECT_EQ(read_whole_file(file), "");
    fclose(file);
}

TEST(PdnRoundTrip, ManyRandomGamesWithKingsAndCapturesReadBackMoveForMove) {
    const char* starts[] = {"W:W31-50:B1-20",
                            "W:W25,27,28,30,32,33,34,35,37,38:B12,13,14,16,18,19,21,23,24,26",
                            "W:WK46,K3,33,40:BK5,K48,12,18", "B:WK28,K22:B7,8,9,12,13,14,K50"};
    TestRandom random{0x9E3779B97F4A7C15ull};
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    const int count = 40;
    static GameRecord games[count];
    for (int g = 0; g < count; ++g) {
        int wtm = 0;
        Position p = fen_position(starts[g % 4], wtm);
        start_game(games[g], p, wtm, g % 4 != 0);
        snprintf(games[g].round, sizeof games[g].round, "%d", g + 1);
        play_random_game(games[g], legal, random, 300);
        set_game_text(games[g].result, g % 3 == 0 ? "2-0" : g % 3 == 1 ? "1-1" : "0-2");
        ASSERT_FALSE(write_pdn_game(file, games[g]));
    }
    std::string text = read_whole_file(file);
    fclose(file);

    // Lines stay short enough for any reader, and a move number is never cut from its move.
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        EXPECT_LE(end - at, 79u);
        EXPECT_NE(text[end - 1], '.') << text.substr(at, end - at);
    }

    PdnReader reader;
    start_pdn_reader(reader, text.data(), text.size());
    char error[200];
    int total_plies = 0, captures = 0, promotions = 0;
    for (int g = 0; g < count; ++g) {
        ASSERT_EQ(read_pdn_game(reader, back, error, sizeof error), pdn_game) << error;
        SCOPED_TRACE(g);
        expect_same_game(games[g], back);
        EXPECT_STREQ(back.round, games[g].round);
        for (int i = 0; i < back.ply_count; ++i) {
            const GameMove& m = back.moves[i];
            Position before = i ? back.moves[i - 1].after : back.start;
            captures += m.capture_count > 0;
            promotions += piece_count(before) == piece_count(m.after) &&
                          (m.after.kings & ~before.kings) != 0 &&
                          (before.kings & square_mask[m.from - 1]) == 0;
        }
        total_plies += back.ply_count;
    }
    EXPECT_EQ(read_pdn_game(reader, back, error, sizeof error), pdn_end);
    // The games are worth the test: long, with captures and crowned men.
    EXPECT_GT(total_plies, 1000);
    EXPECT_GT(captures, 100);
    EXPECT_GT(promotions, 5);
}

TEST(PdnReading, ToleratesCommentsVariationsGlyphsAndOtherNumberings) {
    ASSERT_EQ(read_one("% an escape line\r\n"
                       "[Event \"x\"]\r\n"
                       "[GameType \"20,W,10,10,N2,0\"]\r\n"
                       "[Result \"1-1\"]\r\n"
                       "\r\n"
                       "1.32-28 {a comment\nover two lines} 19-23! 2. 28x19 (2. 33-29 "
                       "(2. 34-30) 23-28) $3\n"
                       "2... 14x23 ; rest of the line is a comment 3. 99-99\n"
                       "3. ... 37-32 1-1\n"),
              "");
    ASSERT_EQ(back.ply_count, 5);
    EXPECT_TRUE(back.moves[4].from == 37 && back.moves[4].to == 32);
    EXPECT_STREQ(back.result, "1-1");
    EXPECT_STREQ(back.event, "x");
}

TEST(PdnReading, GamesWithoutResultTokenEndAtTheNextTags) {
    const std::string text = "[Result \"2-0\"]\n1. 32-28\n[Result \"0-2\"]\n1. 33-28\n";
    PdnReader reader;
    start_pdn_reader(reader, text.data(), text.size());
    char error[200];
    for (const auto& [from, result] : {std::pair{32, "2-0"}, {33, "0-2"}}) {
        ASSERT_EQ(read_pdn_game(reader, back, error, sizeof error), pdn_game) << error;
        EXPECT_EQ(back.ply_count, 1);
        EXPECT_EQ(back.moves[0].from, from);
        EXPECT_STREQ(back.result, result);
    }
    EXPECT_EQ(read_pdn_game(reader, back, error, sizeof error), pdn_end);
    EXPECT_EQ(read_pdn_game(reader, back, error, sizeof error), pdn_end);
}

TEST(PdnReading, BadFilesAreRefusedWithTheLine) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"[Event \"x\"]\n\n1. 32-28 19-23\n2. 28-22 *\n", "line 4: move 3"},
        {"1. 32-28 28-23 *", "not a legal move"},
        {"[Result \"2-0\"]\n1. 32-28 0-2\n", "differ"},
        {"[Result \"1-0\"]\n1. 32-28\n", "unknown result"},
        {"[GameType \"21\"]\n1. 32-28 *\n", "GameType"},
        {"[FEN \"W:W31-50:B1-20:X\"]\n1. 32-28 *\n", "FEN"},
        {"[Event \"x]\n1. 32-28 *\n", "closing quote"},
        {"[Event x]\n", "malformed tag"},
        {"1. 32-28 {never closed\n", "line 1: comment"},
        {"1. 32-28 (33-29\n", "variation"},
        {"1. 32-28 ] *", "unexpected"},
        {"", "no game"},
        {"  \n{only a comment}\n", "no game"},
    };
    for (const auto& c : cases) {
        std::string error = read_one(c.text);
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " -> " << error;
    }
}

} // namespace
