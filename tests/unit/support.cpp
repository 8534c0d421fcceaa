#include "tests/unit/support.h"

#include "board/board.h"

namespace {
// The tables are filled once, as start-up does; every fatal stop throws.
struct Setup : ::testing::Environment {
    void SetUp() override {
        fill_bit_count_table();
        build_ray_table();
        fatal_stop_hook = [] { throw FatalStop{}; };
    }
};
const auto* const setup = ::testing::AddGlobalTestEnvironment(new Setup);
} // namespace
