#include "tests/board/helpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

MoveList test_list;
CapturePath test_paths[max_moves + 1];

namespace {

// The tables are filled once, before any test, as start-up does.
struct Tables : ::testing::Environment {
    void SetUp() override {
        fill_bit_count_table();
        build_ray_table();
    }
};
const auto* const tables = ::testing::AddGlobalTestEnvironment(new Tables);

int row_of(int square) {
    return (square - 1) / 5;
}
int column_of(int square) {
    return 2 * ((square - 1) % 5) + (row_of(square) % 2 == 0 ? 1 : 0);
}
// 0 when the row and column are off the board or a light square.
int square_at(int row, int column) {
    if (row < 0 || row > 9 || column < 0 || column > 9 || (row + column) % 2 == 0) return 0;
    return row * 5 + column / 2 + 1;
}

// The reference generator: plain recursion over a grid of squares.
struct Search {
    int cell[51]; // by square: 0 empty, +-1 man, +-2 king (positive white)
    int sign;     // +1 white moves, -1 black
    Position start;
    int from = 0; // the moving piece's square (empty while it moves)
    bool king = false;
    std::vector<std::pair<std::vector<uint64_t>, int>> found; // result, pieces taken

    bool empty(int square) const { return cell[square] == 0 || square == from; }

    void finish(int at, uint64_t taken) {
        Position p = start;
        uint64_t& own = sign > 0 ? p.white : p.black;
        const uint64_t f = square_mask[from - 1], t = square_mask[at - 1];
        own = (own & ~f) | t;
        (sign > 0 ? p.black : p.white) &= ~taken;
        p.kings &= ~taken;
        if (king)
            p.kings = (p.kings & ~f) | t;
        else if (sign > 0 ? at <= 5 : at >= 46)
            p.kings |= t;
        found.push_back({key_of(p), __builtin_popcountll(taken)});
    }

    void capture_from(int at, uint64_t taken) {
        bool more = false;
        const int r = row_of(at), c = column_of(at);
        for (int dr = -1; dr <= 1; dr += 2) {
            for (int dc = -1; dc <= 1; dc += 2) {
                int k = 1;
                if (king)
                    while (square_at(r + k * dr, c + k * dc) &&
                           empty(square_at(r + k * dr, c + k * dc)))
                        k++;
                const int victim = square_at(r + k * dr, c + k * dc);
                if (victim == 0 || cell[victim] * sign >= 0 || (taken & square_mask[victim - 1]))
                    continue;
                for (int m = k + 1;; m++) {
                    const int landing = square_at(r + m * dr, c + m * dc);
                    if (landing == 0 || !empty(landing)) break;
                    more = true;
                    capture_from(landing, taken | square_mask[victim - 1]);
                    if (!king) break;
                }
            }
        }
        if (!more && taken != 0) finish(at, taken);
    }
};

} // namespace

Position fen_position(const char* text, int* white_to_move) {
    Position p{0, 0, 0};
    int side = 1;
    char error[200];
    EXPECT_FALSE(parse_fen(text, p, side, error, sizeof error)) << text << ": " << error;
    if (white_to_move != nullptr) *white_to_move = side;
    return p;
}

uint64_t squares(std::initializer_list<int> numbers) {
    uint64_t m = 0;
    for (int s : numbers) m |= square_mask[s - 1];
    return m;
}

std::string square_list(uint64_t mask) {
    std::string text;
    for (int s = 1; s <= 50; s++)
        if (mask & square_mask[s - 1])
            text.append(text.empty() ? "" : " ").append(std::to_string(s));
    return text;
}

std::vector<std::string> move_texts(const Position& position, int white_to_move) {
    int n = 0;
    const int count = generate_legal_moves(position, white_to_move, test_list, test_paths, n);
    std::vector<std::string> texts;
    for (int i = 0; i < count; i++) {
        const MoveSquares m = move_squares(n, i, white_to_move, position, test_list, test_paths);
        std::string text = std::to_string(square_of_mask(m.from));
        text.append(n == 0 ? "-" : "x").append(std::to_string(square_of_mask(m.to)));
        for (int k = 0; k < n; k++)
            text.append(" ").append(
                std::to_string(square_of_mask(path_piece_taken(test_paths[i], k, white_to_move))));
        texts.push_back(text);
    }
    return texts;
}

std::vector<uint64_t> key_of(const Position& p) {
    return {p.black, p.white, p.kings};
}

ReferenceMoves reference_moves(const Position& position, int white_to_move) {
    Search s{{}, white_to_move ? 1 : -1, position, 0, false, {}};
    for (int q = 1; q <= 50; q++) {
        const uint64_t m = square_mask[q - 1];
        const int value = (position.kings & m) ? 2 : 1;
        s.cell[q] = (position.white & m) ? value : (position.black & m) ? -value : 0;
    }
    for (s.from = 1; s.from <= 50; s.from++) {
        if (s.cell[s.from] * s.sign <= 0) continue;
        s.king = s.cell[s.from] * s.sign == 2;
        s.capture_from(s.from, 0);
    }
    ReferenceMoves moves{{}, 0};
    for (auto& f : s.found) moves.taken = std::max(moves.taken, f.second);
    // Quiet moves only without a capture: men one step forwards, kings any distance.
    for (s.from = 1; s.from <= 50 && moves.taken == 0; s.from++) {
        if (s.cell[s.from] * s.sign <= 0) continue;
        s.king = s.cell[s.from] * s.sign == 2;
        const int r = row_of(s.from), c = column_of(s.from);
        for (int dr = -1; dr <= 1; dr += 2)
            for (int dc = -1; dc <= 1; dc += 2)
                for (int k = 1; s.king || (k == 1 && dr == -s.sign); k++) {
                    const int to = square_at(r + k * dr, c + k * dc);
                    if (to == 0 || s.cell[to] != 0) break;
                    s.finish(to, 0);
                }
    }
    for (auto& f : s.found)
        if (f.second == moves.taken) moves.results.insert(f.first);
    return moves;
}

std::string path_fault(const Position& before, int white_to_move, const MoveList& list,
                       const CapturePath* paths, int i, int n) {
    auto own = [&](const Position& p) { return white_to_move ? p.white : p.black; };
    auto opp = [&](const Position& p) { return white_to_move ? p.black : p.white; };
    const CapturePath& path = paths[i];
    if (path.count != n) return "count " + std::to_string(path.count);
    if (!(path.steps[0] == before)) return "steps[0] is not the position before";
    const uint64_t from = own(path.steps[0]) & ~own(path.steps[1]);
    if (__builtin_popcountll(from) != 1) return "no single from square";
    const bool king = before.kings & from;
    const uint64_t occupied = (before.black | before.white) & ~from;
    uint64_t at = from;
    for (int k = 1; k <= n; k++) {
        const Position& a = path.steps[k - 1];
        const Position& b = path.steps[k];
        const std::string where = "jump " + std::to_string(k) + ": ";
        const uint64_t taken = opp(a) & ~opp(b);
        if (__builtin_popcountll(taken) != 1 || opp(b) != (opp(a) & ~taken))
            return where + "not exactly one piece taken";
        const uint64_t to = own(b) & ~own(a);
        if ((own(a) & ~own(b)) != at || __builtin_popcountll(to) != 1)
            return where + "the mover did not move from where it stood";
        if (b.kings != ((a.kings & ~taken & ~(king ? at : 0)) | (king ? to : 0)))
            return where + "kings changed wrongly";
        // Along one ray of the square it starts from, over the taken piece and otherwise only
        // over squares empty before the move.
        const RayEntry& entry = ray_table[__builtin_ctzll(at)];
        bool along = false;
        for (int d = 0; d < 4 && !along; d++) {
            bool passed = false, blocked = false;
            for (int j = 0; j < entry.length[d]; j++) {
                const uint64_t s = entry.ray[d][j];
                if (s == to) {
                    along = passed && !blocked && (king || j == 1);
                    break;
                }
                blocked |= (s == taken && passed) || (s != taken && (occupied & s));
                passed |= s == taken;
            }
        }
        if (!along)
            return where + "not a legal jump from " + square_list(at) + " to " + square_list(to) +
                   " over " + square_list(taken);
        at = to;
    }
    Position expected = path.steps[n];
    if (!king && (at & (white_to_move ? white_promotion_mask : black_promotion_mask)))
        expected.kings |= at;
    if (!(list.entries[i] == expected)) return "entry is not the last step plus promotion";
    const MoveSquares m = move_squares(n, i, white_to_move, before, list, paths);
    if (m.from != from || m.to != at) return "move_squares disagrees with the path";
    return "";
}

void check_moves(const Position& p, int side, int& count, int& n) {
    static MoveList plain;
    n = -1;
    count = generate_legal_moves(p, side, test_list, test_paths, n);
    char fen[fen_buffer_size];
    format_fen(p, side, fen, sizeof fen);
    ASSERT_FALSE(test_list.truncated) << fen;
    ASSERT_EQ(count, test_list.count) << fen;
    const ReferenceMoves reference = reference_moves(p, side);
    ASSERT_EQ(n, reference.taken) << fen;
    std::set<std::vector<uint64_t>> listed;
    for (int i = 0; i < count; i++) listed.insert(key_of(test_list.entries[i]));
    ASSERT_EQ(listed.size(), static_cast<size_t>(count)) << "a move listed twice: " << fen;
    ASSERT_EQ(listed, reference.results) << fen;
    ASSERT_EQ(side_has_capture(p, side), n > 0 ? 1 : 0) << fen;
    if (n == 0) return;
    for (int i = 0; i < count; i++)
        ASSERT_EQ(path_fault(p, side, test_list, test_paths, i, n), "") << fen << " capture " << i;
    // Without paths the list is the same, in the same order.
    ASSERT_EQ(generate_captures(p, side, plain, nullptr), count) << fen;
    for (int i = 0; i < count; i++) ASSERT_EQ(plain.entries[i], test_list.entries[i]) << fen;
}
