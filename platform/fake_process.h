// An in-memory engine process for tests: the bytes of the engine's whole memory map, with
// failures that tests switch on, hooks through which a test plays the engine, and a log of
// every access. Test-only: it allocates freely.
//
// Typical use:
//     FakeEngineProcess fake;
//     kavro_process = &fake;
//     fake.after_write = [](FakeEngineProcess& p, uint32_t address, size_t size) { ... };
//     fake.fail_reads_in(0x460c08, 2, 1);   // the second read of the score fails
//
// A ready-made engine behaviour (new games, colours, typed moves, replies) built on this
// lives in tests/engine/fake_kavro.h (library fake_kavro).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/platform.h"

// The pages that hold the engine's memory map; any access outside them fails.
constexpr uint32_t fake_region_begin = 0x43a000;
constexpr uint32_t fake_region_end = 0x461000;

enum class FakeAccessKind : uint8_t { read, write };

// One access, as made through read_memory/write_memory.
struct FakeAccess {
    FakeAccessKind kind;
    uint32_t address;
    uint32_t size;
    bool failed;
    std::vector<uint8_t> bytes; // the bytes written (writes only, also when the write failed)
};

// A failure rule: accesses of the chosen kinds that overlap [begin, end) are counted; the
// first `pass` of them succeed, the next `count` fail (count < 0: all later ones fail).
struct FakeFailure {
    bool reads;
    bool writes;
    uint32_t begin;
    uint32_t end;
    int32_t pass;
    int32_t count;
    int32_t seen; // matching accesses so far
};

struct FakeEngineProcess : EngineProcess {
    using Hook = std::function<void(FakeEngineProcess& process, uint32_t address, size_t size)>;

    // Bytes of [fake_region_begin, fake_region_end), all zero at first.
    std::vector<uint8_t> memory;

    // Switches: while on, every read (write) fails.
    bool fail_reads = false;
    bool fail_writes = false;
    // Countdown: when not negative, that many more accesses succeed; every one after fails.
    int32_t accesses_before_failure = -1;
    std::vector<FakeFailure> failures;
    // The error a failed access leaves for last_error_text (errno on POSIX, GetLastError on
    // Windows). An access outside the region gives the system's "bad address" instead.
    int failure_error;

    // Runs after each successful write, with the bytes already in place: the engine's side.
    // Hooks change memory with poke(), never with write_memory().
    Hook after_write;
    // Runs before each read (also one that will fail): lets an engine change its memory
    // between polls.
    Hook before_read;

    std::vector<FakeAccess> log;

    FakeEngineProcess();
    bool read_memory(uint32_t address, void* data, size_t size) override;
    bool write_memory(uint32_t address, const void* data, size_t size) override;

    // Failure rules (see FakeFailure) on an address range.
    void fail_reads_in(uint32_t address, uint32_t size, int32_t pass = 0, int32_t count = -1);
    void fail_writes_in(uint32_t address, uint32_t size, int32_t pass = 0, int32_t count = -1);

    // Direct access for tests and hooks: no failures, no hooks, no log. Out of the region
    // these abort the test program (a fault of the test itself).
    void poke(uint32_t address, const void* data, size_t size);
    void peek(uint32_t address, void* data, size_t size) const;
    void poke_byte(uint32_t address, uint8_t value) { poke(address, &value, 1); }
    uint8_t byte_at(uint32_t address) const;
    int16_t int16_at(uint32_t address) const;
    void poke_int16(uint32_t address, int16_t value) { poke(address, &value, sizeof value); }

    // The log, filtered: successful and failed writes in order; reads that touched a range.
    std::vector<FakeAccess> writes() const;
    int count_reads(uint32_t address, uint32_t size) const;
    int count_writes(uint32_t address, uint32_t size) const;
    void clear_log() { log.clear(); }

  private:
    bool access_fails(FakeAccessKind kind, uint32_t address, size_t size);
};
