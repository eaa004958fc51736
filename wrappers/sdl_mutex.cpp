#include "wrappers/sdl_mutex.h"

#include "utils/errors.h"

#include <SDL.h>

namespace Wrappers {

// A failed creation leaves a null handle, which the first lock reports.
Mutex::Mutex() : _mutex(SDL_CreateMutex())
{
}

Mutex::~Mutex()
{
    if (_mutex)
        SDL_DestroyMutex(_mutex);
}

void Mutex::lock()
{
    if (SDL_mutexP(_mutex) == -1)
        throw Utils::MutexError();
}

void Mutex::unlock()
{
    if (SDL_mutexV(_mutex) == -1)
        throw Utils::MutexError();
}

} // namespace Wrappers
