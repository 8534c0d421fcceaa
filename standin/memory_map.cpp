// Where the shared region lives. On Linux it is mapped at the fixed addresses; a build for
// another system puts its own way of getting the same addresses here.
#include "standin/memory_map.h"

#include <atomic>
#include <cstring>

#include "platform/platform.h"

#ifndef _WIN32 // Windows: standin/region_win32.cpp
bool acquire_memory_map() {
    return map_fixed_region(map_begin, map_end - map_begin);
}
#endif

void map_read(uint32_t address, void* data, size_t size) {
    // The other side is another process writing through the kernel: keep the compiler from
    // moving our accesses across the copy; the stand-in itself has one thread.
    std::atomic_signal_fence(std::memory_order_acquire);
    auto* out = static_cast<int8_t*>(data);
    volatile int8_t* in = map_bytes(address);
    for (size_t i = 0; i < size; ++i) out[i] = in[i];
}

void map_write(uint32_t address, const void* data, size_t size) {
    // One copy of the whole run, so that a reader sees the bytes change together as far as
    // the machine allows.
    std::memcpy(reinterpret_cast<void*>(uintptr_t(address)), data, size);
    std::atomic_signal_fence(std::memory_order_release);
}
