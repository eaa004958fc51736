#include "test_helpers/flood.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <fstream>

namespace TestHelpers {

FloodResult flood(int fd, const std::function<std::string()>& next, size_t total,
                  std::chrono::milliseconds timeout, const std::function<void()>& between)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    FloodResult result;
    std::string piece;
    size_t at = 0;
    while (result.sent < total) {
        if (at == piece.size()) {
            piece = next();
            at = 0;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        const ssize_t n = ::send(fd, piece.data() + at, piece.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            result.peerGone = true;
            break;
        }
        at += static_cast<size_t>(n);
        result.sent += static_cast<size_t>(n);
        if (at == piece.size() && between)
            between();
    }
    return result;
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = -1;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

} // namespace TestHelpers
