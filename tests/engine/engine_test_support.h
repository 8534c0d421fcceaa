// Shared by the engine tests: output capture, observing fatal stops, pause scaling.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/engine.h"
#include "tests/engine/fake_kavro.h"

// Thrown by the fatal stop hook, so that a test sees the stop instead of the exit.
struct FatalStop {};

// Standard output between construction and text().
struct OutputCapture {
    OutputCapture() {
        fflush(stdout);
        testing::internal::CaptureStdout();
    }
    std::string text() {
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

// A fresh Kavro for every test, pauses scaled to nothing unless a test restores them, and
// the bridge's state as at program start.
class EngineTest : public testing::Test {
  protected:
    FakeKavro kavro;
    void SetUp() override;
    void TearDown() override;
};

inline bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}
