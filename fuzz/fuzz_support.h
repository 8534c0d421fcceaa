// What the fuzz targets share: fatal stops observed in process, and findings that abort.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

struct FuzzFatalStop {};

// A failed check aborts: libFuzzer keeps the input as a finding.
[[noreturn]] inline void fuzz_fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
#define FUZZ_CHECK(condition) ((condition) ? void(0) : fuzz_fail(#condition))

// The code's own lines go to the null device: printing would slow the fuzzer down.
inline void fuzz_observe_fatal_stops() {
    fatal_stop_hook = [] { throw FuzzFatalStop{}; };
    FUZZ_CHECK(std::freopen("/dev/null", "w", stdout));
}
