#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {
void throwing_hook() {
    throw FuzzFatalStop{};
}
} // namespace

void fuzz_observe_fatal_stops(bool quiet) {
    fatal_stop_hook = throwing_hook;
    if (quiet && !std::freopen("/dev/null", "w", stdout)) fuzz_fail("cannot silence stdout");
}

void fuzz_fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
