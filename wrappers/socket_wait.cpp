#include "wrappers/socket_wait.h"

#include "utils/console.h"
#include "utils/errors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace Wrappers {

int pollFor(pollfd* fds, nfds_t count, int timeout, const char* owner)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    for (;;) {
        const int n = poll(fds, count, timeout);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            std::printf("%s: poll: %s\n", owner, Utils::systemError(errno).c_str());
            throw Utils::NetErrorSelect();
        }
        if (timeout > 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(left, 0));
        }
    }
}

} // namespace Wrappers
