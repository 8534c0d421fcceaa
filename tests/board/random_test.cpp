// Randomized cross-check: over positions from random play and random king-heavy positions,
// the bitboard generator lists exactly the moves of the reference generator, every capture
// agrees with its path, the capture test agrees, and no list fills up.
#include <gtest/gtest.h>

#include <random>

#include "tests/board/helpers.h"

namespace {

struct Tally {
    int positions = 0, with_captures = 0, most_taken = 0;
    void check(const Position& p, int side) {
        int count, n;
        check_moves(p, side, count, n);
        positions++;
        with_captures += n > 0;
        most_taken = std::max(most_taken, n);
    }
};

TEST(RandomCrossCheck, RandomGamesFromTheStart) {
    std::mt19937_64 rng(0x5eed);
    Tally tally;
    for (int game = 0; game < 1500 && !HasFatalFailure(); game++) {
        Position p = fen_position("W:W31-50:B1-20");
        int side = 1;
        for (int ply = 0; ply < 150 && !HasFatalFailure(); ply++) {
            tally.check(p, side);
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

TEST(RandomCrossCheck, RandomKingHeavyPositions) {
    std::mt19937_64 rng(0xdeadbeef);
    Tally tally;
    for (int round = 0; round < 20000 && !HasFatalFailure(); round++) {
        Position p{0, 0, 0};
        for (int colour = 0; colour < 2; colour++) {
            const int wanted = 1 + static_cast<int>(rng() % 20);
            for (int placed = 0, tries = 0; placed < wanted && tries < 500; tries++) {
                const uint64_t s = square_mask[rng() % 50];
                const bool king = rng() % 10 < 6;
                // A man never stands on the row where it would have been crowned.
                if (((p.black | p.white) & s) ||
                    (!king && (s & (colour == 0 ? white_promotion_mask : black_promotion_mask))))
                    continue;
                (colour == 0 ? p.white : p.black) |= s;
                if (king) p.kings |= s;
                placed++;
            }
        }
        tally.check(p, 1);
        tally.check(p, 0);
    }
    EXPECT_GT(tally.with_captures, 15000);
    EXPECT_GE(tally.most_taken, 4);
}

} // namespace
