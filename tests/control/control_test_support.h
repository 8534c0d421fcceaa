// The game controller in process: a fake Kavro behind kavro_process, the client as the far
// end of a loopback pair on dxp_connection, events taken from the queue one at a time as the
// event loop would, standard output captured and fatal stops seen as exceptions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/control.h"
#include "engine/engine.h"
#include "tests/engine/fake_kavro.h"

// Thrown by the fatal stop hook, so that a test sees the stop instead of the exit.
struct FatalStop {};

class ControlTest : public testing::Test {
  protected:
    FakeKavro kavro;
    Socket peer = invalid_socket; // the client's end of the connection
    std::string output;           // standard output of everything run through run()

    void SetUp() override;
    void TearDown() override;

    // Runs body with standard output captured into output; true when it ended in a fatal
    // stop.
    template <typename Body> bool run(Body body) {
        fflush(stdout);
        testing::internal::CaptureStdout();
        bool stopped = false;
        try {
            body();
        } catch (const FatalStop&) {
            stopped = true;
        }
        fflush(stdout);
        output += testing::internal::GetCapturedStdout();
        return stopped;
    }

    // The client sends text (its zero byte added); the next queued event is dispatched.
    // True when the dispatcher ended in a fatal stop.
    bool deliver(const std::string& text);
    // Dispatches every event waiting in the queue, in order; true at a fatal stop.
    bool dispatch_waiting();
    // The messages the server has sent to the client, each without its zero byte, waiting
    // at most timeout_ms for the first.
    std::vector<std::string> received_by_client(int timeout_ms = 200);

    // Sets the game up directly: Kavro and current_board show board, colour as given.
    void start_game(const char* fen, int32_t kavro_colour);
    int count_lines(const std::string& line) const;
};

// Lines of a text, each without its line end.
std::vector<std::string> lines_of(const std::string& text);
// A MOVE record; captured squares in the order given.
DxpMessage move_message(int from, int to, std::vector<int> captured = {});
// The wire text of a GAMEREQ as a client sends it: fen empty for the standard start,
// otherwise the position and side to move of a PDN FEN.
std::string gamereq_text(char server_colour, const char* fen = nullptr);
