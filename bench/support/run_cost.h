#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace Bench {

// What a program run to its end cost.
struct RunCost {
    int exitCode = -1;     // -1 when it could not start or did not exit normally
    double cpuSeconds = 0; // user plus system, from the kernel's count at its end
    std::chrono::steady_clock::time_point started;
};

// Runs the program with its standard output on /dev/null and waits for it.
// Its CPU time is counted to the end, which /proc cannot give once the
// program has exited.
RunCost runCounted(const std::string& program, const std::vector<std::string>& args);

} // namespace Bench
