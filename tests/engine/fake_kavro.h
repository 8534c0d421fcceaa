// A simple Kavro played by the in-memory fake process, for tests of the server against an
// engine that can be made to misbehave. Like the real one it takes a command when the
// second command flag is written with 1 (and lowers both flags):
//   "n"              a new game from the setup board (bytes other than -2..2 empty), white
//                    to move;
//   "kca" / "kac"    it plays white / black (the player flags become 0 for its side, 1 for
//                    the other); 1 written into both flags makes it play neither;
//   "a-b", "a-b-c"   the first legal move (project generator, list order) from a to b, that
//                    takes the piece on c when c is given, is played for the side to move;
//                    anything else is ignored.
// Whenever a command leaves its own side to move it replies at once (or after some reads
// of its board, see reply_after_board_reads): with the next scripted board of `replies` if
// any, else the first legal move in list order, showing that move as its analysis line with
// reply_score. With no legal move it does nothing.
//
//     FakeKavro kavro;               // standard start, both flags 1, empty analysis
//     kavro_process = &kavro.process;
//     kavro.ignore_moves = true;     // an engine that never takes typed moves
// With ignore_moves, ignore_new_game and never_replies all set its board never changes.
// Failures and access logs: kavro.process (platform/fake_process.h).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "board/board.h"
#include "platform/fake_process.h"

struct FakeKavro {
    FakeEngineProcess process;

    // ---- behaviour switches ----
    bool ignore_moves = false;    // typed moves leave the board as it is
    bool ignore_new_game = false; // "n" leaves the board as it is
    bool never_replies = false;   // it never moves for its own side
    // 0: a reply shows at once; k > 0: it shows just before the k-th read of the game board
    // after the command (a new command before then cancels it).
    int reply_after_board_reads = 0;
    int16_t reply_score = 0;       // the score shown with each reply
    std::deque<ByteBoard> replies; // boards shown as its next replies, used up in order
    // The side to move on its board (1 white, 0 black); a reply and a typed move switch it.
    int white_to_move = 1;

    // ---- what it saw ----
    std::vector<std::string> commands; // every command taken, in order
    int replies_made = 0;

    FakeKavro();
    FakeKavro(const FakeKavro&) = delete;
    FakeKavro& operator=(const FakeKavro&) = delete;

    // Direct access to its boards and flags (no log, no failure, no hook).
    void show_board(const ByteBoard& board, int side_to_move);
    ByteBoard game_board() const;
    ByteBoard setup_board() const;
    void set_setup_board(const ByteBoard& board);
    bool plays_white() const;
    bool plays_black() const;
    // Analysis arrays and score as Kavro keeps them: raw square codes, 99 after the last.
    void set_analysis(const std::vector<uint8_t>& origins, const std::vector<uint8_t>& destinations,
                      int16_t score);

  private:
    void on_write(uint32_t address, size_t size);
    void on_read(uint32_t address);
    void take_command(const std::string& text);
    bool play_typed_move(const std::string& text);
    void start_reply();
    void reply();
    bool pending_reply_ = false;
    int reads_left_ = 0;
};

// The standard start position as a ByteBoard.
ByteBoard standard_start_board();
// A ByteBoard from a PDN FEN such as "W:W31,32:B20,K5"; aborts the test program on a bad text.
ByteBoard board_from_fen(const char* fen);
