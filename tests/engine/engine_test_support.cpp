#include "tests/engine/engine_test_support.h"

#include <cstring>

void EngineTest::SetUp() {
    kavro_process = &kavro.process;
    pause_scale_percent = 0;
    fatal_stop_hook = [] { throw FatalStop{}; };
    memset(last_analysis_text, 0, sizeof last_analysis_text);
    last_analysis_score = 0;
    draw_count = 0;
    current_board.fill(0);
}

void EngineTest::TearDown() {
    kavro_process = nullptr;
    pause_scale_percent = 100;
    fatal_stop_hook = nullptr;
}
