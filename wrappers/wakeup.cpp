#include "wrappers/wakeup.h"

#include "utils/console.h"
#include "utils/errors.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace Wrappers {

Wakeup::Wakeup() : _fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (_fd < 0) {
        std::printf("Wakeup: eventfd: %s\n", Utils::systemError(errno).c_str());
        throw Utils::NetErrorWakeup();
    }
}

Wakeup::~Wakeup()
{
    close(_fd);
}

// The flag lives in the eventfd's counter, not in a member, so clang-tidy
// would have raise() and clear() const; they change the flag all the same.
// NOLINTNEXTLINE(readability-make-member-function-const)
void Wakeup::raise()
{
    // The counter cannot overflow in practice: it is cleared long before
    // 2^64 raises.
    const uint64_t one = 1;
    while (write(_fd, &one, sizeof one) < 0 && errno == EINTR) {}
}

bool Wakeup::raised() const
{
    return wait(0);
}

bool Wakeup::wait(int timeoutMs) const
{
    pollfd fd{_fd, POLLIN, 0};
    // An interrupted wait counts as one that saw nothing; every caller
    // looks again.
    return poll(&fd, 1, timeoutMs) > 0 && (fd.revents & POLLIN) != 0;
}

// NOLINTNEXTLINE(readability-make-member-function-const)
void Wakeup::clear()
{
    uint64_t count = 0;
    while (read(_fd, &count, sizeof count) < 0 && errno == EINTR) {}
}

} // namespace Wrappers
