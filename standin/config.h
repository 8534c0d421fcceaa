// The stand-in's settings. It is started by its bare name without arguments, so they come from
// an optional winkavro.ini in the working directory: "key=value" lines, '#' starts a comment.
#pragma once

// Faults on purpose, for testing the server's failure paths: "fault=" one of the names below
// ("fault=die_after_moves=N" with a count). Off unless the file asks. Two more go with any of
// them, each on a "fault=" line of its own: "fault=slow_start=MS" (the start board shows only
// MS ms after the launch, as with a slow cold start) and "fault=outlive_server" (the stand-in
// goes on for 30 s after its launcher has gone, as the real Kavro goes on for good).
enum StandinFault {
    fault_none,
    fault_wrong_start_board, // the board at launch is not the standard start
    fault_ignore_moves,      // typed moves are not made
    fault_ignore_new,        // "n" does not start a new game
    fault_illegal_reply,     // the stand-in's own moves show a board no legal move gives
    fault_die_after_moves,   // the process ends when next to move after die_after_moves moves
};

struct StandinConfig {
    int movetime_ms = 1000;  // thinking time per move
    int max_depth = 64;      // deepest iteration
    int hash_megabytes = 32; // transposition table, allocated once at start
    StandinFault fault = fault_none;
    int die_after_moves = 0; // own moves played before the process ends
    int slow_start_ms = 0;   // the start board shows this long after the launch
    bool outlive_server = false;
};

extern StandinConfig standin_config;

// Reads the file into standin_config; a missing file leaves the defaults. A line that cannot
// be understood is reported on standard output and skipped. True when the file exists but
// cannot be read.
bool read_config(const char* path);
// One "key=value" line (without its line end). True when it was not understood.
bool apply_config_line(const char* line, StandinConfig& config);
