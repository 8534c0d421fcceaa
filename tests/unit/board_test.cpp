// The move generator against a reference written on rows and columns, the documented capture
// cases and generation order, perft figures, and FEN reading and writing.
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "board/movegen.h"
#include "tests/unit/support.h"

namespace {

MoveList list;
CapturePaths paths;

// A move as both generators can describe it: the result, from, to, and the captured squares.
using Key = std::vector<uint64_t>;

// The reference: a grid of cells, plain recursion over jumps, no bit tricks.
struct Reference {
    int cell[10][10] = {}; // +-1 man, +-2 king, positive white
    int sign = 1;
    int best = 0;
    std::set<Key> moves;

    static uint64_t mask(int r, int c) { return square_mask[r * 5 + c / 2]; }
    static bool on(int r, int c) { return r >= 0 && r < 10 && c >= 0 && c < 10 && (r + c) % 2; }

    void add(int fr, int fc, int r, int c, uint64_t taken, bool king, const Position& p) {
        const int n = __builtin_popcountll(taken);
        if (n < best) return;
        if (n > best) moves.clear(), best = n;
        Position q = p;
        uint64_t& own = sign > 0 ? q.white : q.black;
        own = (own & ~mask(fr, fc)) | mask(r, c);
        (sign > 0 ? q.black : q.white) &= ~taken;
        q.kings &= ~taken & ~mask(fr, fc);
        if (king || r == (sign > 0 ? 0 : 9)) q.kings |= mask(r, c);
        moves.insert({q.black, q.white, q.kings, mask(fr, fc), mask(r, c), taken});
    }

    void jumps(int fr, int fc, int r, int c, uint64_t taken, bool king, const Position& p) {
        bool more = false;
        for (int dr : {-1, 1})
            for (int dc : {-1, 1}) {
                int k = 1;
                auto empty = [&](int i) {
                    const int rr = r + i * dr, cc = c + i * dc;
                    return on(rr, cc) && (cell[rr][cc] == 0 || (rr == fr && cc == fc));
                };
                while (king && empty(k)) k++;
                const int vr = r + k * dr, vc = c + k * dc;
                if (!on(vr, vc) || cell[vr][vc] * sign >= 0 || (taken & mask(vr, vc))) continue;
                for (int m = k + 1; empty(m) && (king || m == 2); m++) {
                    more = true;
                    jumps(fr, fc, r + m * dr, c + m * dc, taken | mask(vr, vc), king, p);
                }
            }
        if (!more && taken) add(fr, fc, r, c, taken, king, p);
    }

    Reference(const Position& p, int white_to_move) : sign(white_to_move ? 1 : -1) {
        for (int r = 0; r < 10; r++)
            for (int c = 0; c < 10; c++)
                if (on(r, c)) {
                    const uint64_t m = mask(r, c);
                    const int v = (p.kings & m) ? 2 : 1;
                    cell[r][c] = (p.white & m) ? v : (p.black & m) ? -v : 0;
                }
        for (int pass = 0; pass < 2 && moves.empty(); pass++)
            for (int r = 0; r < 10; r++)
                for (int c = 0; c < 10; c++) {
                    if (cell[r][c] * sign <= 0) continue;
                    const bool king = cell[r][c] * sign == 2;
                    if (pass == 0) jumps(r, c, r, c, 0, king, p);
                    for (int dr : {-1, 1})
                        for (int dc : {-1, 1})
                            for (int k = 1; pass && (king || (k == 1 && dr == -sign)); k++) {
                                if (!on(r + k * dr, c + k * dc) || cell[r + k * dr][c + k * dc])
                                    break;
                                add(r, c, r + k * dr, c + k * dc, 0, king, p);
                            }
                }
    }
};

// The generator's list in the reference's terms, with every capture path read back.
std::set<Key> generated(const Position& p, int side, int& n, int& count) {
    count = generate_legal_moves(p, side, list, paths, n);
    std::set<Key> keys;
    for (int i = 0; i < count; i++) {
        const MoveSquares m = move_squares(n, i, side, p, list, paths);
        uint64_t taken = 0;
        for (int k = 0; k < n; k++) taken |= path_piece_taken(paths[i], k, side);
        const Position& q = list.entries[i];
        keys.insert({q.black, q.white, q.kings, m.from, m.to, taken});
    }
    return keys;
}

void check(const Position& p, int side, int* most_taken = nullptr) {
    int n, count;
    const std::set<Key> keys = generated(p, side, n, count);
    char text[fen_buffer_size];
    format_fen(p, side, text, sizeof text);
    const Reference ref(p, side);
    ASSERT_FALSE(list.truncated) << text;
    ASSERT_EQ(keys.size(), size_t(count)) << "a move listed twice: " << text;
    ASSERT_EQ(n, ref.best) << text;
    ASSERT_EQ(keys, ref.moves) << text;
    ASSERT_EQ(side_has_capture(p, side), n > 0) << text;
    if (most_taken) *most_taken = std::max(*most_taken, n);
}

TEST(Generator, AgreesWithTheReferenceOnRandomGamesAndKingHeavyPositions) {
    std::mt19937_64 rng(0x5eed);
    int most = 0, positions = 0;
    for (int game = 0; game < 1000 && !HasFatalFailure(); game++) {
        int side = 1;
        Position p = fen("W:W31-50:B1-20");
        for (int ply = 0; ply < 150 && !HasFatalFailure(); ply++, positions++) {
            check(p, side, &most);
            if (list.count == 0) break;
            p = list.entries[rng() % uint64_t(list.count)];
            side = !side;
        }
    }
    EXPECT_GT(positions, 50000);
    for (int round = 0; round < 15000 && !HasFatalFailure(); round++) {
        Position p{}; // kings mostly; men never on the row that would have crowned them
        for (uint64_t s = 0, density = 1 + rng() % 8, r; s < 50; s++)
            if ((r = rng()) % 20 < density &&
                ((r / 40) % 10 < 6 ||
                 !(square_mask[s] & (r / 20 % 2 ? white_promotion_mask : black_promotion_mask)))) {
                (r / 20 % 2 ? p.white : p.black) |= square_mask[s];
                p.kings |= (r / 40) % 10 < 6 ? square_mask[s] : 0;
            }
        check(p, 1, &most);
        check(p, 0, &most);
    }
    EXPECT_GE(most, 5); // the positions reached long captures
}

std::string texts(const char* position) {
    int side, n, count;
    const Position p = fen(position, &side);
    generated(p, side, n, count);
    std::string out;
    for (int i = 0; i < count; i++) {
        const MoveSquares m = move_squares(n, i, side, p, list, paths);
        out += (i ? ", " : "") + std::to_string(square_of_mask(m.from)) + (n ? "x" : "-") +
               std::to_string(square_of_mask(m.to));
        for (int k = 0; k < n; k++)
            out += " " + std::to_string(square_of_mask(path_piece_taken(paths[i], k, side)));
    }
    return out;
}

TEST(Generator, DocumentedCasesInGenerationOrder) {
    const char* const cases[][2] = {
        // Quiet moves by direction, then square; kings until the first piece.
        {"W:W31-50:B1-20", "31-27, 32-28, 33-29, 34-30, 31-26, 32-27, 33-28, 34-29, 35-30"},
        {"B:W31-50:B1-20", "16-21, 17-22, 18-23, 19-24, 20-25, 17-21, 18-22, 19-23, 20-24"},
        {"B:W:BK5", "5-10, 5-14, 5-19, 5-23, 5-28, 5-32, 5-37, 5-41, 5-46"},
        {"B:WK1:B41", "41-47, 41-46"},
        {"W:W:B1-20", ""},
        // Men take both ways; men before kings, then by landing square.
        {"W:W33:B28,29,38,39", "33x24 29, 33x22 28, 33x44 39, 33x42 38"},
        {"B:W28,29,38,39:B33", "33x44 39, 33x42 38, 33x24 29, 33x22 28"},
        {"W:WK1,K3,18,48,33:B7,9,43,29", "33x24 29, 48x39 43, 1x12 7, 3x14 9, 3x20 9, 3x25 9"},
        // The majority rule, for men and kings.
        {"B:W28,41,42:B23,36", "36x38 41 42"},
        {"W:WK50,33:B44,28,18", "33x13 28 18"},
        {"W:WK46,35:B30,37,23", "46x19 37 23, 46x14 37 23, 46x10 37 23, 46x5 37 23"},
        // A loop taken both ways is one move; a king turns on any landing square.
        {"W:W37:B21,22,31,32", "37x37 32 22 21 31"},
        {"W:WK46:B18,32", "46x12 32 18, 46x7 32 18, 46x1 32 18"},
        {"W:WK46:B21,22,31,37", "46x26 37 22 21"},
        {"W:WK13:B18,30,32,37", "13x25 18 32 30, 13x25 18 37 30"},
        {"W:WK43:B14,18,19,39", "43x22 39 19 18, 43x27 39 19 18, 43x31 39 19 18, "
                                "43x36 39 19 18, 43x22 39 14 18, 43x27 39 14 18, "
                                "43x31 39 14 18, 43x36 39 14 18"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(texts(c[0]), c[1]) << c[0];
        int side;
        const Position p = fen(c[0], &side);
        check(p, side);
    }
}

TEST(Generator, CrowningOnlyWhereAMoveEnds) {
    const char* const cases[][2] = {
        {"W:W6:BK50", "B:WK1:BK50"}, {"B:WK1:B45", "W:WK1:BK50"}, {"B:W41:B37", "W:W:BK46"},
        {"B:W41,42:B36", "W:W:B38"}, // passes the last row mid-capture: stays a man
        {"W:W12:BK50", "B:W8:BK50"},
    };
    for (const auto& c : cases) {
        int side, n;
        const Position p = fen(c[0], &side);
        generate_legal_moves(p, side, list, paths, n);
        EXPECT_EQ(list.entries[0], fen(c[1])) << c[0];
    }
    // 407 maximal captures of six pieces, all listed with their paths.
    int side, n;
    const Position p =
        fen("W:WK5,K15,K46,K47,K48,K49:BK8,9,18,19,22,K24,27,30,31,K35,40,K41,42,43,K44.", &side);
    check(p, side);
    EXPECT_EQ(list.count, 407);
    EXPECT_EQ(generate_legal_moves(p, side, list, paths, n), 407);
}

TEST(Perft, FiguresAtModerateDepth) { // leaves from depth 0 on
    const char* const rows[][2] = {
        {"W:W31-50:B1-20", "1 9 81 658 4265 27117 167140 1049442"},
        {"W:B12,13,14,16,18,19,21,23,24,26:W25,27,28,30,32,33,34,35,37,38",
         "1 6 12 30 73 215 590 1944 6269 22369 88050"},
        {"W:WK31-50:BK1-20", "1 17 79 352 1399 7062 37589"},
        {"W:W46:B41,42", "1 1 0"},
    };
    for (const auto& [position, leaves] : rows) {
        int side;
        const Position p = fen(position, &side);
        std::string got = "1";
        for (int d = 1; got.size() < std::strlen(leaves); d++)
            got += " " + std::to_string(perft(p, side, d));
        EXPECT_EQ(got, leaves) << position;
    }
}

TEST(Fen, ReadsEveryFormAndNamesEveryFault) {
    const char* const good[][2] = {
        {"W:B1-3:W31-33", "W:W31,32,33:B1,2,3."},
        {" W : W 31 - 33 : B 1-3 . \n", "W:W31,32,33:B1,2,3."},
        {"B:W10,K45:B12,K3.", "B:W10,K45:BK3,12."},
        {"W:WK31-K33:B", "W:WK31,K32,K33:B."},
    };
    for (const auto& [text, written] : good) {
        int side;
        char out[fen_buffer_size];
        const Position p = fen(text, &side);
        format_fen(p, side, out, sizeof out);
        EXPECT_STREQ(out, written) << text;
    }
    const char* const bad[][2] = {
        {"", "side to move must be W or B (at character 1)"},
        {"W", "missing piece lists (at character 2)"},
        {"W:W1", "missing black list (at character 5)"},
        {"W:W1,51:B2", "square out of range 1-50: 51 (at character 6)"},
        {"W:W031:B2", "square number too long (at character 4)"},
        {"W:W1:B2,123", "square number too long (at character 9)"},
        {"W:W1-5,3:B9", "square listed twice: 3 (at character 8)"},
        {"W:W7:B6-8", "square in both lists: 7 (at character 7)"},
        {"W:W5-3:B9", "range runs backwards to 3 (at character 4)"},
        {"W:W1:B2x", "expected ',' or ':' after a square (at character 8)"},
        {"W:W1,:B2", "expected a square number (at character 6)"},
        {"W;W1:B2", "expected ':' (at character 2)"},
    };
    for (const auto& c : bad) {
        Position p;
        int side;
        char error[100];
        EXPECT_TRUE(parse_fen(c[0], p, side, error, sizeof error)) << c[0];
        EXPECT_STREQ(error, c[1]) << c[0];
    }
    char small[12] = "###########"; // a short buffer: cut, terminated, nothing beyond
    format_fen(fen("W:WK1-25:BK26-50"), 1, small, 10);
    EXPECT_STREQ(small, "W:WK1,K2,");
    EXPECT_EQ(small[10], '#');
}

TEST(Board, ConversionsBetweenTheForms) {
    current_board = board_of("W:W31,K45:B2,K12");
    EXPECT_EQ(join(+current_board[30], +current_board[44], +current_board[1], +current_board[11]),
              "1 2 -1 -2");
    EXPECT_EQ(board_to_position(), fen("W:W31,K45:B2,K12"));
    current_board[5] = -2; // '?' leaves square 6 alone
    board_from_dxp_text(("wWzZe?" + std::string(44, 'e')).c_str());
    EXPECT_EQ(current_board, board_of("W:W1,K2:B3,K4,K6"));
}

} // namespace
