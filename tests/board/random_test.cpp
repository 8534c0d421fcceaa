// Randomized cross-check: over positions from random play and random king-heavy positions,
// the bitboard generator lists exactly the moves a plain row-and-column generator finds,
// every capture agrees with its path, the capture test agrees, and no list fills up.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/board/helpers.h"

namespace {

struct Tally {
    int positions = 0;
    int with_captures = 0;
    int most_taken = 0;
    int longest_list = 0;
};

MoveList plain_list;

void check(const Position& p, int side, Tally& tally) {
    int n = -1;
    const int count = generate_legal_moves(p, side, test_list, test_paths, n);
    std::string fen(fen_buffer_size, '\0');
    format_fen(p, side, fen.data(), fen.size());
    fen.resize(strlen(fen.c_str()));
    ASSERT_FALSE(test_list.truncated) << fen;
    ASSERT_EQ(count, test_list.count) << fen;

    const ReferenceMoves reference = reference_moves(p, side);
    ASSERT_EQ(n, reference.taken) << fen;
    std::set<std::vector<uint64_t>> listed;
    for (int i = 0; i < count; i++) listed.insert(key_of(test_list.entries[i]));
    ASSERT_EQ(listed.size(), static_cast<size_t>(count)) << "a move listed twice: " << fen;
    ASSERT_EQ(listed, reference.results) << fen;

    ASSERT_EQ(side_has_capture(p, side), n > 0 ? 1 : 0) << fen;
    if (n > 0) {
        for (int i = 0; i < count; i++) {
            const std::string fault = path_fault(p, side, test_list, test_paths, i, n);
            ASSERT_EQ(fault, "") << fen << " capture " << i;
        }
        // Without paths the list is the same, in the same order.
        ASSERT_EQ(generate_captures(p, side, plain_list, nullptr), count) << fen;
        for (int i = 0; i < count; i++) ASSERT_EQ(plain_list.entries[i], test_list.entries[i]);
        tally.with_captures++;
    }
    tally.positions++;
    tally.most_taken = std::max(tally.most_taken, n);
    tally.longest_list = std::max(tally.longest_list, count);
}

TEST(RandomCrossCheck, RandomGamesFromTheStart) {
    std::mt19937_64 rng(0x5eed);
    Tally tally;
    for (int game = 0; game < 1500 && !HasFatalFailure(); game++) {
        Position p = fen_position("W:W31-50:B1-20");
        int side = 1;
        for (int ply = 0; ply < 150 && !HasFatalFailure(); ply++) {
            check(p, side, tally);
            int n;
            const int count = generate_legal_moves(p, side, test_list, nullptr, n);
            if (count == 0) break;
            p = test_list.entries[rng() % static_cast<uint64_t>(count)];
            side = !side;
        }
    }
    // The games reached the cases worth checking.
    EXPECT_GT(tally.positions, 80000);
    EXPECT_GT(tally.with_captures, 10000);
    EXPECT_GE(tally.most_taken, 3);
}

Position random_position(std::mt19937_64& rng) {
    Position p{0, 0, 0};
    const int whites = 1 + static_cast<int>(rng() % 20), blacks = 1 + static_cast<int>(rng() % 20);
    for (int colour = 0; colour < 2; colour++) {
        const int wanted = colour == 0 ? whites : blacks;
        for (int placed = 0, tries = 0; placed < wanted && tries < 500; tries++) {
            const uint64_t s = square_mask[rng() % 50];
            if ((p.black | p.white) & s) continue;
            const bool king = rng() % 10 < 6;
            // A man never stands on the row where it would have been crowned.
            if (!king && (s & (colour == 0 ? white_promotion_mask : black_promotion_mask)))
                continue;
            (colour == 0 ? p.white : p.black) |= s;
            if (king) p.kings |= s;
            placed++;
        }
    }
    return p;
}

TEST(RandomCrossCheck, RandomKingHeavyPositions) {
    std::mt19937_64 rng(0xdeadbeef);
    Tally tally;
    for (int round = 0; round < 20000 && !HasFatalFailure(); round++) {
        const Position p = random_position(rng);
        check(p, 1, tally);
        check(p, 0, tally);
    }
    EXPECT_GT(tally.with_captures, 15000);
    EXPECT_GE(tally.most_taken, 4);
}

} // namespace
