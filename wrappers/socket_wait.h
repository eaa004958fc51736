#pragma once

#include <poll.h>

namespace Wrappers {

// Polls the descriptors at most timeout ms (-1: no limit) and returns how
// many are ready; a signal does not end the wait early, the rest of the
// time is waited again. A failed poll prints "`owner`: poll: reason" and
// throws Utils::NetErrorSelect.
int pollFor(pollfd* fds, nfds_t count, int timeout, const char* owner);

} // namespace Wrappers
