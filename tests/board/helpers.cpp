#include "tests/board/helpers.h"

#include <gtest/gtest.h>

#include <cstdio>

MoveList test_list;
CapturePath test_paths[max_moves + 1];

namespace {

// The tables are filled once, before any test, as start-up does.
class Tables : public ::testing::Environment {
  public:
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
    const int r = row_of(square);
    return 2 * ((square - 1) % 5) + (r % 2 == 0 ? 1 : 0);
}
// 0 when the row and column are off the board or a light square.
int square_at(int row, int column) {
    if (row < 0 || row > 9 || column < 0 || column > 9 || (row + column) % 2 == 0) return 0;
    return row * 5 + column / 2 + 1;
}

struct Grid {
    int cell[51]; // by square: 0 empty, +-1 man, +-2 king (positive white)
};

struct Search {
    const Grid& grid;
    int sign; // +1 white moves, -1 black
    int from; // the moving piece's square (empty while it moves)
    bool king;
    std::vector<std::pair<std::vector<uint64_t>, int>> found; // result, pieces taken
    Position start;
};

bool is_empty(const Search& s, int square) {
    return s.grid.cell[square] == 0 || square == s.from;
}
bool is_opponent(const Search& s, int square) {
    return s.grid.cell[square] * s.sign < 0;
}

void finish(Search& s, int at, uint64_t taken) {
    Position p = s.start;
    uint64_t& own = s.sign > 0 ? p.white : p.black;
    uint64_t& opp = s.sign > 0 ? p.black : p.white;
    const uint64_t from = square_mask[s.from - 1], to = square_mask[at - 1];
    own = (own & ~from) | to;
    opp &= ~taken;
    p.kings &= ~taken;
    if (s.king)
        p.kings = (p.kings & ~from) | to;
    else if ((s.sign > 0 && at <= 5) || (s.sign < 0 && at >= 46))
        p.kings |= to;
    s.found.push_back({key_of(p), __builtin_popcountll(taken)});
}

void capture_from(Search& s, int at, uint64_t taken) {
    bool more = false;
    const int r = row_of(at), c = column_of(at);
    for (int dr = -1; dr <= 1; dr += 2) {
        for (int dc = -1; dc <= 1; dc += 2) {
            int k = 1;
            if (s.king)
                while (square_at(r + k * dr, c + k * dc) &&
                       is_empty(s, square_at(r + k * dr, c + k * dc)))
                    k++;
            const int victim = square_at(r + k * dr, c + k * dc);
            if (victim == 0 || !is_opponent(s, victim) || (taken & square_mask[victim - 1]))
                continue;
            for (int m = k + 1;; m++) {
                const int landing = square_at(r + m * dr, c + m * dc);
                if (landing == 0 || !is_empty(s, landing)) break;
                more = true;
                capture_from(s, landing, taken | square_mask[victim - 1]);
                if (!s.king) break;
            }
        }
    }
    if (!more && taken != 0) finish(s, at, taken);
}

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
    for (int s = 1; s <= 50; s++) {
        if (!(mask & square_mask[s - 1])) continue;
        if (!text.empty()) text += ' ';
        text += std::to_string(s);
    }
    return text;
}

std::vector<std::string> move_texts(const Position& position, int white_to_move) {
    int n = 0;
    const int count = generate_legal_moves(position, white_to_move, test_list, test_paths, n);
    std::vector<std::string> texts;
    for (int i = 0; i < count; i++) {
        const MoveSquares m = move_squares(n, i, white_to_move, position, test_list, test_paths);
        char text[120];
        int length = snprintf(text, sizeof text, "%d%c%d", square_of_mask(m.from),
                              n == 0 ? '-' : 'x', square_of_mask(m.to));
        for (int k = 0; k < n && length < 100; k++)
            length += snprintf(text + length, sizeof text - static_cast<size_t>(length), " %d",
                               square_of_mask(path_piece_taken(test_paths[i], k, white_to_move)));
        texts.emplace_back(text);
    }
    return texts;
}

std::vector<uint64_t> key_of(const Position& p) {
    return {p.black, p.white, p.kings};
}

ReferenceMoves reference_moves(const Position& position, int white_to_move) {
    Grid grid{};
    for (int s = 1; s <= 50; s++) {
        const uint64_t m = square_mask[s - 1];
        const int value = (position.kings & m) ? 2 : 1;
        if (position.white & m)
            grid.cell[s] = value;
        else if (position.black & m)
            grid.cell[s] = -value;
    }
    const int sign = white_to_move ? 1 : -1;
    ReferenceMoves moves{{}, 0};
    std::vector<std::pair<std::vector<uint64_t>, int>> all;
    for (int s = 1; s <= 50; s++) {
        if (grid.cell[s] * sign <= 0) continue;
        Search search{grid, sign, s, grid.cell[s] * sign == 2, {}, position};
        capture_from(search, s, 0);
        for (auto& f : search.found) all.push_back(f);
    }
    for (auto& f : all) moves.taken = std::max(moves.taken, f.second);
    if (moves.taken > 0) {
        for (auto& f : all)
            if (f.second == moves.taken) moves.results.insert(f.first);
        return moves;
    }
    // Quiet moves: men one step forwards, kings any distance.
    for (int s = 1; s <= 50; s++) {
        const int piece = grid.cell[s] * sign;
        if (piece <= 0) continue;
        const bool king = piece == 2;
        Search search{grid, sign, s, king, {}, position};
        const int r = row_of(s), c = column_of(s);
        for (int dr = -1; dr <= 1; dr += 2) {
            if (!king && dr != -sign) continue;
            for (int dc = -1; dc <= 1; dc += 2) {
                for (int k = 1;; k++) {
                    const int to = square_at(r + k * dr, c + k * dc);
                    if (to == 0 || grid.cell[to] != 0) break;
                    Position p = position;
                    uint64_t& own = sign > 0 ? p.white : p.black;
                    const uint64_t fm = square_mask[s - 1], tm = square_mask[to - 1];
                    own = (own & ~fm) | tm;
                    if (king)
                        p.kings = (p.kings & ~fm) | tm;
                    else if ((sign > 0 && to <= 5) || (sign < 0 && to >= 46))
                        p.kings |= tm;
                    moves.results.insert(key_of(p));
                    if (!king) break;
                }
            }
        }
    }
    return moves;
}

std::string path_fault(const Position& before, int white_to_move, const MoveList& list,
                       const CapturePath* paths, int i, int n) {
    auto own = [&](const Position& p) { return white_to_move ? p.white : p.black; };
    auto opp = [&](const Position& p) { return white_to_move ? p.black : p.white; };
    const CapturePath& path = paths[i];
    if (path.count != n) return std::string("count ").append(std::to_string(path.count));
    if (!(path.steps[0] == before)) return "steps[0] is not the position before";
    const uint64_t from = own(path.steps[0]) & ~own(path.steps[1]);
    if (__builtin_popcountll(from) != 1) return "no single from square";
    const bool king = before.kings & from;
    const uint64_t occupied = (before.black | before.white) & ~from;
    uint64_t at = from;
    for (int k = 1; k <= n; k++) {
        const Position& a = path.steps[k - 1];
        const Position& b = path.steps[k];
        std::string where = "jump ";
        where.append(std::to_string(k)).append(": ");
        const uint64_t taken = opp(a) & ~opp(b);
        if (__builtin_popcountll(taken) != 1 || opp(b) != (opp(a) & ~taken))
            return where + "not exactly one piece taken";
        const uint64_t to = own(b) & ~own(a);
        if ((own(a) & ~own(b)) != at || __builtin_popcountll(to) != 1)
            return where + "the mover did not move from where it stood";
        const uint64_t kings = (a.kings & ~taken & ~(king ? at : 0)) | (king ? to : 0);
        if (b.kings != kings) return where + "kings changed wrongly";
        // The jump runs along one ray of the square it starts from, over the taken piece and
        // otherwise only over squares empty before the move.
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
                if (s == taken) {
                    if (passed) blocked = true;
                    passed = true;
                } else if (occupied & s) {
                    blocked = true;
                }
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
