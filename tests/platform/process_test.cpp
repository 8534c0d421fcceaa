// The process layer against real children: launching, detaching, reading and writing their
// memory, failures that must be failures, and children that outlive their launcher.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "tests/platform/memory_child.h"
#include "tests/platform/scratch_dir.h"

namespace {

std::string error_text() {
    char text[256];
    last_error_text(text, sizeof text);
    return text;
}

template <class Predicate> bool wait_until(Predicate predicate, int limit_ms = 5000) {
    const int64_t start = clock_ms();
    while (!predicate()) {
        if (clock_ms() - start > limit_ms) return false;
        pause_ms(5);
    }
    return true;
}

// Each test runs in its own directory with the helper programs linked in, and ends every
// process it started.
class ChildTest : public ::testing::Test {
  protected:
    ScratchDir dir;
    EngineProcess* child = nullptr;
    int64_t other_pid = 0;
    MemoryChildFacts facts{};

    void SetUp() override {
        adopt_orphans();
        dir.link_program(PLATFORM_HELPER_DIR, "platform_memory_child", "memory_child");
        dir.link_program(PLATFORM_HELPER_DIR, "platform_launch_and_exit", "launch_and_exit");
    }
    void TearDown() override {
        if (child) end_process_group(child_process_id(child));
        if (other_pid) end_process_group(other_pid);
        delete child;
    }

    // Launches the memory child and waits until its facts are in place.
    void start_memory_child() {
        child = launch_child("memory_child");
        ASSERT_NE(child, nullptr) << error_text();
        ASSERT_TRUE(wait_until([&] {
            return !child->read_memory(uint32_t(memory_child_base), &facts, sizeof facts) &&
                   std::strcmp(facts.marker, memory_child_marker) == 0;
        })) << "the child never showed its memory";
    }
};

TEST_F(ChildTest, MissingProgramFailsWithTheSystemsText) {
    EXPECT_EQ(launch_child("no-such-program.exe"), nullptr);
    EXPECT_EQ(error_text(), "No such file or directory");
}

TEST_F(ChildTest, ChildIsDetachedWithNoStandardHandles) {
    ASSERT_NO_FATAL_FAILURE(start_memory_child());
    EXPECT_EQ(facts.pid, child_process_id(child));
    EXPECT_EQ(facts.process_group, facts.pid) << "not in its own process group";
    EXPECT_EQ(facts.session, facts.pid) << "still in the launcher's session";
    for (int fd = 0; fd < 3; ++fd) EXPECT_STREQ(facts.standard_handle[fd], "/dev/null") << fd;
}

TEST_F(ChildTest, AccessesMoveAllTheirBytesOrFail) {
    ASSERT_NO_FATAL_FAILURE(start_memory_child());
    const auto scratch = uint32_t(memory_child_scratch);
    unsigned char pattern[300], back[300] = {};
    for (size_t i = 0; i < sizeof pattern; ++i) pattern[i] = static_cast<unsigned char>(i * 7 + 3);
    ASSERT_FALSE(child->write_memory(scratch, pattern, sizeof pattern)) << error_text();
    ASSERT_FALSE(child->read_memory(scratch, back, sizeof back)) << error_text();
    EXPECT_EQ(std::memcmp(back, pattern, sizeof pattern), 0);
    // A small write in the middle changes those bytes only.
    const unsigned char two[2] = {0xAA, 0x55};
    ASSERT_FALSE(child->write_memory(scratch + 100, two, 2));
    ASSERT_FALSE(child->read_memory(scratch + 99, back, 4));
    const unsigned char expected[4] = {pattern[99], 0xAA, 0x55, pattern[102]};
    EXPECT_EQ(std::memcmp(back, expected, 4), 0);

    // Outside the child's memory.
    char buffer[64] = {};
    EXPECT_TRUE(child->read_memory(0x30000000, buffer, sizeof buffer));
    EXPECT_FALSE(error_text().empty());
    EXPECT_TRUE(child->write_memory(0x30000000, buffer, sizeof buffer));
    // A range that starts in the mapping and runs past its end moves only part of its bytes:
    // that is a failure too, never a silent short read.
    const auto last_bytes = uint32_t(memory_child_base + memory_child_size - 16);
    EXPECT_TRUE(child->read_memory(last_bytes, buffer, 32));
    EXPECT_EQ(error_text(), "Bad address");
    EXPECT_TRUE(child->write_memory(last_bytes, buffer, 32));
    EXPECT_EQ(error_text(), "Bad address");
    EXPECT_FALSE(child->read_memory(last_bytes, buffer, 16)); // cut to the mapping, it works

    // An ended child.
    const int64_t pid = child_process_id(child);
    EXPECT_TRUE(process_running(pid));
    end_process_group(pid);
    EXPECT_FALSE(process_running(pid));
    EXPECT_TRUE(child->read_memory(uint32_t(memory_child_base), buffer, 8));
    EXPECT_FALSE(error_text().empty());
}

TEST_F(ChildTest, ChildEndsSoonAfterItsLauncherHasGone) {
    dir.write_file("launch_target.txt", "memory_child\n");
    EngineProcess* launcher = launch_child("launch_and_exit");
    ASSERT_NE(launcher, nullptr) << error_text();
    const int64_t launcher_pid = child_process_id(launcher);
    delete launcher;
    // The launcher exits at once; reap it so that it is not left as a zombie.
    ASSERT_TRUE(wait_until([&] { return !process_running(launcher_pid); }));
    end_process_group(launcher_pid);
    ASSERT_TRUE(
        wait_until([&] { return bool(std::ifstream(dir.path / "child.pid") >> other_pid); }));
    ASSERT_GT(other_pid, 0);
    // The child looks every few ms; the margin is for a loaded machine.
    EXPECT_TRUE(wait_until([&] { return !process_running(other_pid); }))
        << "the child outlived its launcher";
}

TEST(FixedRegion, MapsExactlyThereAndNeverReplaces) {
    const uintptr_t address = 0x41000000;
    ASSERT_FALSE(map_fixed_region(address + 0x10, 100)); // rounded out to whole pages
    auto* bytes = reinterpret_cast<volatile unsigned char*>(address);
    EXPECT_EQ(bytes[0], 0); // fresh anonymous memory
    bytes[0] = 42;
    bytes[0x10 + 99] = 7;
    // Asking again for the same pages must fail and leave the first mapping as it was.
    EXPECT_TRUE(map_fixed_region(address, 4096));
    EXPECT_EQ(bytes[0], 42);
    EXPECT_EQ(bytes[0x10 + 99], 7);
}

} // namespace
