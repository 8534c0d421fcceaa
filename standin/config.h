// The stand-in's settings. It is started by its bare name without arguments, so they come from
// an optional winkavro.ini in the working directory: "key=value" lines, '#' starts a comment.
#pragma once

struct StandinConfig {
    int movetime_ms = 1000;  // thinking time per move
    int max_depth = 64;      // deepest iteration
    int hash_megabytes = 32; // transposition table, allocated once at start
};

extern StandinConfig standin_config;

// Reads the file into standin_config; a missing file leaves the defaults. A line that cannot
// be understood is reported on standard output and skipped. True when the file exists but
// cannot be read.
bool read_config(const char* path);
// One "key=value" line (without its line end). True when it was not understood.
bool apply_config_line(const char* line, StandinConfig& config);
