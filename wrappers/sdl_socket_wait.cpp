#include "wrappers/sdl_socket_wait.h"

#include "utils/errors.h"

namespace Wrappers {

void waitReadable(SDLNet_SocketSet set, int timeout)
{
    const int r = SDLNet_CheckSockets(set, static_cast<Uint32>(timeout));
    if (r == 0)
        throw Utils::NetErrorTimeout();
    if (r < 0)
        throw Utils::NetErrorSelect();
}

} // namespace Wrappers
