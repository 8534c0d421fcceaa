// The in-memory engine process of the tests.
#include "platform/fake_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
constexpr int default_failure_error = ERROR_PARTIAL_COPY;
constexpr int bad_address_error = ERROR_NOACCESS;
void set_error(int error) {
    SetLastError(DWORD(error));
}
#else
constexpr int default_failure_error = EIO;
constexpr int bad_address_error = EFAULT;
void set_error(int error) {
    errno = error;
}
#endif

bool inside_region(uint32_t address, size_t size) {
    return address >= fake_region_begin && address <= fake_region_end &&
           size <= size_t(fake_region_end - address);
}

bool overlaps(uint32_t address, size_t size, uint32_t begin, uint32_t end) {
    return uint64_t(address) < end && uint64_t(address) + size > begin;
}

void check_inside(uint32_t address, size_t size) {
    if (inside_region(address, size)) return;
    fprintf(stderr, "fake process: direct access at 0x%x (%zu bytes) outside the region\n", address,
            size);
    abort();
}

} // namespace

FakeEngineProcess::FakeEngineProcess()
    : memory(fake_region_end - fake_region_begin, 0), failure_error(default_failure_error) {}

bool FakeEngineProcess::access_fails(FakeAccessKind kind, uint32_t address, size_t size) {
    bool fails = kind == FakeAccessKind::read ? fail_reads : fail_writes;
    if (accesses_before_failure == 0) fails = true;
    if (accesses_before_failure > 0) --accesses_before_failure;
    // Every rule counts its accesses, also when another reason already makes this one fail.
    for (FakeFailure& rule : failures) {
        const bool kind_matches = kind == FakeAccessKind::read ? rule.reads : rule.writes;
        if (!kind_matches || !overlaps(address, size, rule.begin, rule.end)) continue;
        const int32_t index = rule.seen++;
        if (index >= rule.pass && (rule.count < 0 || index < rule.pass + rule.count)) fails = true;
    }
    if (fails) set_error(failure_error);
    return fails;
}

bool FakeEngineProcess::read_memory(uint32_t address, void* data, size_t size) {
    if (before_read) before_read(*this, address, size);
    bool failed = access_fails(FakeAccessKind::read, address, size);
    if (!failed && !inside_region(address, size)) {
        set_error(bad_address_error);
        failed = true;
    }
    log.push_back({FakeAccessKind::read, address, uint32_t(size), failed, {}});
    if (failed) return true;
    memcpy(data, memory.data() + (address - fake_region_begin), size);
    return false;
}

bool FakeEngineProcess::write_memory(uint32_t address, const void* data, size_t size) {
    bool failed = access_fails(FakeAccessKind::write, address, size);
    if (!failed && !inside_region(address, size)) {
        set_error(bad_address_error);
        failed = true;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    log.push_back({FakeAccessKind::write, address, uint32_t(size), failed, {bytes, bytes + size}});
    if (failed) return true;
    memcpy(memory.data() + (address - fake_region_begin), data, size);
    if (after_write) after_write(*this, address, size);
    return false;
}

void FakeEngineProcess::fail_reads_in(uint32_t address, uint32_t size, int32_t pass,
                                      int32_t count) {
    failures.push_back({true, false, address, address + size, pass, count, 0});
}

void FakeEngineProcess::fail_writes_in(uint32_t address, uint32_t size, int32_t pass,
                                       int32_t count) {
    failures.push_back({false, true, address, address + size, pass, count, 0});
}

void FakeEngineProcess::poke(uint32_t address, const void* data, size_t size) {
    check_inside(address, size);
    memcpy(memory.data() + (address - fake_region_begin), data, size);
}

void FakeEngineProcess::peek(uint32_t address, void* data, size_t size) const {
    check_inside(address, size);
    memcpy(data, memory.data() + (address - fake_region_begin), size);
}

uint8_t FakeEngineProcess::byte_at(uint32_t address) const {
    uint8_t value = 0;
    peek(address, &value, 1);
    return value;
}

int16_t FakeEngineProcess::int16_at(uint32_t address) const {
    int16_t value = 0;
    peek(address, &value, sizeof value);
    return value;
}

std::vector<FakeAccess> FakeEngineProcess::writes() const {
    std::vector<FakeAccess> result;
    for (const FakeAccess& access : log)
        if (access.kind == FakeAccessKind::write) result.push_back(access);
    return result;
}

int FakeEngineProcess::count_reads(uint32_t address, uint32_t size) const {
    int count = 0;
    for (const FakeAccess& access : log)
        if (access.kind == FakeAccessKind::read &&
            overlaps(access.address, access.size, address, address + size))
            ++count;
    return count;
}

int FakeEngineProcess::count_writes(uint32_t address, uint32_t size) const {
    int count = 0;
    for (const FakeAccess& access : log)
        if (access.kind == FakeAccessKind::write &&
            overlaps(access.address, access.size, address, address + size))
            ++count;
    return count;
}
