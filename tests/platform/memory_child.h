// What the process-layer tests' child shows in its memory.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uintptr_t memory_child_base = 0x20000000;
constexpr size_t memory_child_size = 0x2000; // two pages, nothing mapped after them
constexpr char memory_child_marker[] = "memory child ready";

struct MemoryChildFacts {
    char marker[32];
    int64_t pid;
    int64_t process_group;
    int64_t session;
    char standard_handle[3][64]; // what fds 0, 1 and 2 point at
};
// Free for the tests to write and read back.
constexpr uintptr_t memory_child_scratch = memory_child_base + 0x400;
