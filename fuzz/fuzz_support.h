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

// The harness's own code gets no coverage instrumentation: the fuzzer is to be guided by the
// product's branches, and every comparison it traces costs time on every input.
#if defined(__clang__)
#define FUZZ_HARNESS __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_HARNESS
#endif

// The code's own lines go to the null device: printing would slow the fuzzer down.
inline void fuzz_observe_fatal_stops() {
    fatal_stop_hook = [] { throw FuzzFatalStop{}; };
    FUZZ_CHECK(std::freopen("/dev/null", "w", stdout));
}
