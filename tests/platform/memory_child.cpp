// A tiny child for the process-layer tests: it takes a page of memory at a fixed address, puts
// what it knows about itself there, and stays until the process that started it has gone.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "tests/platform/memory_child.h"

int main() {
    if (map_fixed_region(memory_child_base, memory_child_size)) return 2;
    auto* facts = reinterpret_cast<MemoryChildFacts*>(memory_child_base);

    // Fields 1, 5 and 6 of /proc/self/stat: the pid, the process group and the session.
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    size_t close_paren = line.rfind(')');
    long long pid = 0, parent = 0, group = 0, session = 0;
    char state = 0;
    if (close_paren != std::string::npos) {
        std::sscanf(line.c_str(), "%lld", &pid);
        std::sscanf(line.c_str() + close_paren + 1, " %c %lld %lld %lld", &state, &parent, &group,
                    &session);
    }
    facts->pid = pid;
    facts->process_group = group;
    facts->session = session;
    for (int fd = 0; fd < 3; ++fd) {
        std::error_code error;
        std::string target =
            std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
        std::snprintf(facts->standard_handle[fd], sizeof facts->standard_handle[fd], "%s",
                      target.c_str());
    }
    // The marker last: once it shows, everything above is in place.
    std::memcpy(facts->marker, memory_child_marker, sizeof memory_child_marker);

    while (parent_alive()) pause_ms(5);
    return 0;
}
