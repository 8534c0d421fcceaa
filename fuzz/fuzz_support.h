// What every fuzz target shares: observing a fatal stop in process, and bytes as input.
#pragma once

#include <cstddef>
#include <cstdint>

// Thrown by the fatal-stop hook, so a target sees the stop instead of losing the process.
struct FuzzFatalStop {};

// Installs the throwing hook; with quiet set, standard output goes to the null device so
// that the lines the code prints do not slow the fuzzer down.
void fuzz_observe_fatal_stops(bool quiet);

// Aborts with the message: libFuzzer records the input as a finding.
[[noreturn]] void fuzz_fail(const char* what);
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) fuzz_fail(#condition);                                                   \
    } while (0)

// Reads fuzz bytes from the front of the input, giving zeros once it is used up.
struct FuzzBytes {
    const uint8_t* data;
    size_t size;
    uint8_t next() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    uint32_t below(uint32_t bound) { return bound ? next() % bound : 0; }
};
