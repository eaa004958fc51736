#pragma once

namespace Wrappers {

// SDL_net keeps every socket behind the same first two fields, which its
// socket sets rely on: the ready flag its header shows, then the system's
// descriptor. We need the descriptor for what SDL_net does not offer:
// sends that never wait, and keepalive probes.
struct SocketHead {
    int ready;
    int channel;
};

} // namespace Wrappers
