#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace TestHelpers {

struct FloodResult {
    size_t sent = 0;
    bool peerGone = false; // the peer closed or reset the connection
};

// Sends the pieces that next() returns on a connected socket until total
// bytes are sent, the peer is gone, or timeout passes; it waits for room in
// the socket with a deadline, never blocked in a send. between() runs after
// every piece, e.g. to sample the peer's memory.
FloodResult flood(int fd, const std::function<std::string()>& next, size_t total,
                  std::chrono::milliseconds timeout, const std::function<void()>& between = {});

// A process's resident memory in KiB (VmRSS of /proc/PID/status), -1 when
// it cannot be read.
long residentKiB(pid_t pid);

} // namespace TestHelpers
