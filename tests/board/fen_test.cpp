// Reading and writing PDN FEN: the accepted forms, a clear reason for every malformed one,
// and no crash on any input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/board/helpers.h"

namespace {

struct Parsed {
    bool failed;
    Position position;
    int white_to_move;
    std::string error;
};

Parsed parse(const char* text) {
    Parsed r{false, Position{0, 0, 0}, -1, ""};
    char error[160];
    r.failed = parse_fen(text, r.position, r.white_to_move, error, sizeof error);
    r.error = error;
    return r;
}

TEST(FenRead, AcceptedForms) {
    const Position start{
        squares({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}),
        squares({31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50}),
        0};
    const Position three_kings{squares({1}), squares({31, 32, 33}), squares({31, 32, 33})};
    struct Case {
        const char* text;
        int white_to_move;
        Position position;
    };
    // Lists in either order, spaces around the parts, king ranges, empty lists, leading zeros.
    const Case cases[] = {
        {"W:W31-50:B1-20", 1, start},
        {"W:B1-20:W31-50", 1, start},
        {" W : W 31 - 50 : B 1-20 . \n", 1, start},
        {"B:W18,K45:B12,K3.", 0, {squares({3, 12}), squares({18, 45}), squares({3, 45})}},
        {"W:WK31-33:B1", 1, three_kings},
        {"W:WK31-K33:B1", 1, three_kings},
        {"B:W:B", 0, {0, 0, 0}},
        {"W:W05:B1", 1, {squares({1}), squares({5}), 0}},
    };
    for (const Case& c : cases) {
        const Parsed r = parse(c.text);
        ASSERT_FALSE(r.failed) << c.text << ": " << r.error;
        EXPECT_TRUE(r.error.empty());
        EXPECT_EQ(r.white_to_move, c.white_to_move) << c.text;
        EXPECT_EQ(r.position, c.position) << c.text;
    }
}

TEST(FenRead, MalformedInputNamesTheFault) {
    const char* const cases[][2] = {
        {"", "side to move must be W or B"},
        {"X:W1:B2", "side to move must be W or B"},
        {"w:W1:B2", "side to move must be W or B"},
        {"W", "missing piece lists"},
        {"W:W1", "missing black list"},
        {"W:B1", "missing white list"},
        {"W:W51:B1", "square out of range 1-50: 51"},
        {"W:W0:B1", "square out of range 1-50: 0"},
        {"W:W123:B1", "square number too long"},
        {"W:W1,1:B2", "square listed twice: 1"},
        {"W:W7:B6-8", "square in both lists: 7"},
        {"W:W5-3:B9", "range runs backwards to 3"},
        {"W:W1:B2:W3", "second white list"},
        {"W:B2:W1:B3", "second black list"},
        {"W:W1:B2x", "expected ',' or ':' after a square"},
        {"W:W1:B2 junk", "expected ',' or ':' after a square"},
        {"W:W1:B2..", "unexpected text after the position"},
        {"W:W1,:B2", "expected a square number"},
        {"  W : W31 - 50 , : B1-20", "expected a square number"}, // a dangling comma
        {"W:WK:B2", "expected a square number"},
        {"W:W-3:B2", "expected a square number"},
        {"W:X1:B2", "piece list must start with W or B"},
        {"W;W1:B2", "expected ':'"},
        // The place named is where the faulty item starts.
        {"W:W1-5,3:B9", "square listed twice: 3 (at character 8)"},
        {"W:W1,51:B2", "square out of range 1-50: 51 (at character 6)"},
    };
    for (const auto& c : cases) {
        const Parsed r = parse(c[0]);
        EXPECT_TRUE(r.failed) << c[0];
        EXPECT_NE(r.error.find(c[1]), std::string::npos) << "\"" << c[0] << "\" gave: " << r.error;
        EXPECT_NE(r.error.find("at character"), std::string::npos) << r.error;
    }
    Position p;
    int side;
    char error[100];
    EXPECT_TRUE(parse_fen(nullptr, p, side, error, sizeof error));
    EXPECT_STREQ(error, "no FEN given (at character 1)");
}

TEST(FenRead, HostileInputNeverCrashes) {
    std::string repeated = "W:W1";
    for (int i = 0; i < 100000; i++) repeated += ",1";
    EXPECT_TRUE(parse((repeated + ":B2").c_str()).failed);
    EXPECT_TRUE(parse(("W:W" + std::string(100000, '9') + ":B1").c_str()).failed);
    EXPECT_FALSE(parse(("W" + std::string(100000, ' ') + ":W1:B2").c_str()).failed);
    // A tiny error buffer is cut, never overrun.
    char small[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    Position p;
    int side;
    EXPECT_TRUE(parse_fen("Q", p, side, small, 5));
    EXPECT_EQ(small[4], '\0');
    EXPECT_EQ(small[5], 'x');
    EXPECT_TRUE(parse_fen("Q", p, side, nullptr, 0));
    // Random FENs, well formed or with one character spoiled: whatever parses writes back
    // to the same position.
    std::mt19937 rng(20240601);
    const char alphabet[] = "WBK:,-.0123456789 x";
    auto random_list = [&rng](char colour) {
        std::string list(1, colour);
        const int items = static_cast<int>(rng() % 6);
        for (int i = 0; i < items; i++) {
            if (i > 0) list += ',';
            if (rng() % 3 == 0) list += 'K';
            list += std::to_string(rng() % 56);
            if (rng() % 4 == 0) list.append("-").append(std::to_string(rng() % 56));
        }
        return list;
    };
    int parsed = 0;
    for (int round = 0; round < 100000; round++) {
        std::string text = (rng() % 2) ? "W:" : "B:";
        text += random_list('W') + ':' + random_list('B');
        if (rng() % 2) text += '.';
        if (rng() % 3 == 0) text[rng() % text.size()] = alphabet[rng() % (sizeof alphabet - 1)];
        Position q;
        int s;
        char error[160];
        if (parse_fen(text.c_str(), q, s, error, sizeof error)) continue;
        parsed++;
        ASSERT_EQ(q.black & q.white, 0u) << text;
        ASSERT_EQ(q.kings & ~(q.black | q.white), 0u) << text;
        char written[fen_buffer_size];
        format_fen(q, s, written, sizeof written);
        Position again;
        int s2;
        ASSERT_FALSE(parse_fen(written, again, s2, error, sizeof error)) << written;
        ASSERT_EQ(again, q) << text;
        ASSERT_EQ(s2, s);
    }
    EXPECT_GT(parsed, 10000); // the round trip above was really exercised
}

TEST(FenWrite, FormsAndBufferLimits) {
    char out[fen_buffer_size];
    format_fen(fen_position("W:W31-50:B1-20"), 1, out, sizeof out);
    EXPECT_STREQ(out, "W:W31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50"
                      ":B1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20.");
    format_fen(fen_position("B:W18,K45:B12,K3."), 0, out, sizeof out);
    EXPECT_STREQ(out, "B:W18,K45:BK3,12.");
    format_fen(Position{0, 0, 0}, 1, out, sizeof out);
    EXPECT_STREQ(out, "W:W:B.");
    // The longest text: every square a king.
    const Position all = fen_position("W:WK1-25:BK26-50");
    format_fen(all, 1, out, sizeof out);
    EXPECT_EQ(fen_position(out), all);
    // A small buffer gets a cut, terminated text and nothing beyond.
    char small[12];
    memset(small, '#', sizeof small);
    format_fen(all, 1, small, 10);
    EXPECT_STREQ(small, "W:WK1,K2,");
    EXPECT_EQ(small[10], '#');
}

} // namespace
