// Where the shared region lives on Windows. The low addresses hold the process heap once the
// program runs, so nothing can be reserved there at run time. Instead the region is a static
// array of the program's own image, and the program is linked with a low, fixed image base
// (-Wl,--image-base=0x10000 -Wl,--disable-dynamicbase): the array then starts a little above
// the code and, being larger than everything from the image base up to the map's end, covers
// the map wherever the code ends below it.
#include <cstdio>

#include "platform/platform.h"
#include "standin/memory_map.h"

namespace {

constexpr uintptr_t image_base = 0x10000;
constexpr size_t region_size = map_end - image_base;

alignas(4096) unsigned char region[region_size];

} // namespace

bool acquire_memory_map() {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(region);
    const uintptr_t end = begin + region_size;
    if (begin > map_begin || end < map_end) {
        printf("The stand-in's memory lies at 0x%llx to 0x%llx and does not cover 0x%x to 0x%x: "
               "link it with the image base 0x%llx\n",
               static_cast<unsigned long long>(begin), static_cast<unsigned long long>(end),
               static_cast<unsigned>(map_begin), static_cast<unsigned>(map_end),
               static_cast<unsigned long long>(image_base));
        return true;
    }
    return map_fixed_region(map_begin, map_end - map_begin);
}
