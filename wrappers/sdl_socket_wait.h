#pragma once

#include <SDL_net.h>

namespace Wrappers {

// Waits at most timeout ms for a socket of the set to become readable.
// Throws Utils::NetErrorTimeout when none did, Utils::NetErrorSelect when
// the wait failed.
void waitReadable(SDLNet_SocketSet set, int timeout);

} // namespace Wrappers
