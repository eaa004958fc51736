#include "wrappers/sdl_mutex.h"

#include "utils/errors.h"

#include <SDL.h>

namespace Wrappers {

struct MutexHandle {
    SDL_mutex* mutex = nullptr;
};

Mutex::Mutex() : _mutex(std::make_unique<MutexHandle>())
{
    // A failed creation leaves a null handle, which the first lock reports.
    _mutex->mutex = SDL_CreateMutex();
}

Mutex::~Mutex()
{
    if (_mutex->mutex)
        SDL_DestroyMutex(_mutex->mutex);
}

void Mutex::lock()
{
    if (SDL_mutexP(_mutex->mutex) == -1)
        throw Utils::MutexError();
}

void Mutex::unlock()
{
    if (SDL_mutexV(_mutex->mutex) == -1)
        throw Utils::MutexError();
}

} // namespace Wrappers
