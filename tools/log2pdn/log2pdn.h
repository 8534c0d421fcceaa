// dxp-log2pdn: the games in the server's own log (its standard output), as PDN.
//
// The log names every DXP message the server took and sent: a game starts with the
// initiator's GAMEREQ ("Received: \"R...\""), its moves are the MOVE texts both ways, and it
// ends with a GAMEEND from either side, the lost connection, the next GAMEREQ or the end of
// the log. The moves are replayed from the request's start position with the generator, so
// every written move is a legal one.
#pragma once

#include <cstdio>

struct LogSummary {
    int games;    // games written
    int problems; // log lines that did not fit the game they belonged to
};
extern LogSummary log_summary;

// Starts reading a log whose games go to out. notes receives a line per problem.
void start_log(FILE* out, FILE* notes);
// One line of the log, without its line end. True when writing a game failed.
bool read_log_line(const char* line);
// The end of the log: a game still open is written without a result. True on failure.
bool finish_log();
