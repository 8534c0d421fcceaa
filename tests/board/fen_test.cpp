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
    const Parsed start = parse("W:W31-50:B1-20");
    ASSERT_FALSE(start.failed) << start.error;
    EXPECT_EQ(start.white_to_move, 1);
    EXPECT_EQ(start.position.white, squares({31, 32, 33, 34, 35, 36, 37, 38, 39, 40,
                                             41, 42, 43, 44, 45, 46, 47, 48, 49, 50}));
    EXPECT_EQ(start.position.black,
              squares({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    EXPECT_EQ(start.position.kings, 0u);
    EXPECT_TRUE(start.error.empty());

    const Parsed kings = parse("B:W18,K45:B12,K3.");
    ASSERT_FALSE(kings.failed) << kings.error;
    EXPECT_EQ(kings.white_to_move, 0);
    EXPECT_EQ(kings.position, (Position{squares({3, 12}), squares({18, 45}), squares({3, 45})}));

    // Lists in either order, spaces around the parts, a king range, empty lists.
    EXPECT_EQ(parse("W:B1-20:W31-50").position, start.position);
    EXPECT_EQ(parse("  W : W31 - 50 , : B1-20 . \n").failed, true); // a dangling comma
    EXPECT_EQ(parse(" W : W 31 - 50 : B 1-20 . \n").position, start.position);
    EXPECT_EQ(parse("W:WK31-33:B1").position,
              (Position{squares({1}), squares({31, 32, 33}), squares({31, 32, 33})}));
    EXPECT_EQ(parse("W:WK31-K33:B1").position, parse("W:WK31-33:B1").position);
    const Parsed empty = parse("B:W:B");
    ASSERT_FALSE(empty.failed) << empty.error;
    EXPECT_EQ(empty.position, (Position{0, 0, 0}));
    EXPECT_FALSE(parse("W:W05:B1").failed); // a leading zero is still square 5
}

TEST(FenRead, MalformedInputNamesTheFault) {
    struct Case {
        const char* text;
        const char* reason;
    };
    const Case cases[] = {
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
        {"W:W1-5,3:B9", "square listed twice: 3"},
        {"W:W7:B6-8", "square in both lists: 7"},
        {"W:W5-3:B9", "range runs backwards to 3"},
        {"W:W1:B2:W3", "second white list"},
        {"W:B2:W1:B3", "second black list"},
        {"W:W1:B2x", "expected ',' or ':' after a square"},
        {"W:W1:B2..", "unexpected text after the position"},
        {"W:W1,:B2", "expected a square number"},
        {"W:WK:B2", "expected a square number"},
        {"W:W-3:B2", "expected a square number"},
        {"W:X1:B2", "piece list must start with W or B"},
        {"W;W1:B2", "expected ':'"},
        {"W:W1:B2 junk", "expected ',' or ':' after a square"},
    };
    for (const Case& c : cases) {
        const Parsed r = parse(c.text);
        EXPECT_TRUE(r.failed) << c.text;
        EXPECT_NE(r.error.find(c.reason), std::string::npos)
            << "\"" << c.text << "\" gave: " << r.error;
        EXPECT_NE(r.error.find("at character"), std::string::npos) << r.error;
    }
    // The place named is where the faulty item starts.
    EXPECT_EQ(parse("W:W1-5,3:B9").error, "square listed twice: 3 (at character 8)");
    EXPECT_EQ(parse("W:W1,51:B2").error, "square out of range 1-50: 51 (at character 6)");
    Position p;
    int side;
    char error[100];
    EXPECT_TRUE(parse_fen(nullptr, p, side, error, sizeof error));
    EXPECT_STREQ(error, "no FEN given (at character 1)");
}

TEST(FenRead, HostileInputNeverCrashes) {
    // Very long inputs.
    std::string repeated = "W:W1";
    for (int i = 0; i < 100000; i++) repeated += ",1";
    repeated += ":B2";
    EXPECT_TRUE(parse(repeated.c_str()).failed);
    const std::string digits = "W:W" + std::string(100000, '9') + ":B1";
    EXPECT_TRUE(parse(digits.c_str()).failed);
    const std::string spaces = "W" + std::string(100000, ' ') + ":W1:B2";
    EXPECT_FALSE(parse(spaces.c_str()).failed);
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
        text += random_list('W');
        text += ':';
        text += random_list('B');
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
    EXPECT_LT(strlen(out), fen_buffer_size);
    // A small buffer gets a cut, terminated text and nothing beyond.
    char small[12];
    memset(small, '#', sizeof small);
    format_fen(all, 1, small, 10);
    EXPECT_STREQ(small, "W:WK1,K2,");
    EXPECT_EQ(small[10], '#');
}

} // namespace
