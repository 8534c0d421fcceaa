// The opening book: lines read into entries, a position found with its move and score, one
// not found, lines that name no legal move reported, and the book's absence.
#include <gtest/gtest.h>

#include "standin/book.h"
#include "tests/unit/support.h"

namespace {

struct Lookup {
    const char* fen;
    bool found;
    const char* after; // the position the book's move leads to
    int score;
};
const Lookup lookups[] = {
    {"W:W31-50:B1-20", true, "B:W29,31-33,35-50:B1-20", 7},
    {"B:W28,31,33-50:B1-20", true, "W:W28,31,33-50:B1-18,20,23", 10},
    {"B:W31-50:B1-20", false, "", 0}, // the start with black to move
    {"W:W28,31,33-50:B1-18,20,23", false, "", 0},
};

TEST(Book, LooksUpItsPositionsReportsBadLinesAndItsAbsence) {
    testing::internal::CaptureStdout();
    ASSERT_FALSE(load_book(UNIT_DATA "/book.txt"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              UNIT_DATA "/book.txt line 5: not a position, a legal move and a score\n" UNIT_DATA
                        "/book.txt line 6: not a position, a legal move and a score\n");
    EXPECT_EQ(book_count, 2);
    for (const Lookup& row : lookups) {
        int white = 1;
        const Position p = fen(row.fen, &white);
        Position after{};
        int score = -1;
        ASSERT_EQ(book_move(p, white, after, score), row.found) << row.fen;
        if (!row.found) continue;
        EXPECT_EQ(after, fen(row.after)) << row.fen;
        EXPECT_EQ(score, row.score) << row.fen;
    }
    testing::internal::CaptureStdout();
    EXPECT_TRUE(load_book("no-such-book.txt"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No opening book (no-such-book.txt): playing without it.\n");
    book_count = 0; // the other tests play without a book
}

} // namespace
