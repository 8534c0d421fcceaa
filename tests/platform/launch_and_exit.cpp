// Starts the program named in launch_target.txt (working directory) through the process
// layer, writes the child's pid into child.pid and exits at once, leaving the child alone.
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/platform.h"

int main() {
    std::ifstream target_file("launch_target.txt");
    std::string target;
    if (!std::getline(target_file, target) || target.empty()) return 2;
    EngineProcess* child = launch_child(target.c_str());
    if (!child) return 3;
    std::ofstream("child.pid.tmp") << child_process_id(child) << "\n";
    // Renamed into place so that a reader never sees half a number.
    std::rename("child.pid.tmp", "child.pid");
    return 0;
}
