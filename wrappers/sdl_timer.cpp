#include "wrappers/sdl_timer.h"

#include <SDL.h>

#include <mutex>

namespace Wrappers {

Timer::Timer()
{
    // Any first SDL_Init starts the clock at zero. SDL's timer subsystem is
    // not wanted: it runs a thread that wakes every millisecond for the
    // life of the process, and nothing here uses SDL timers.
    static std::once_flag started;
    std::call_once(started, [] { SDL_Init(SDL_INIT_NOPARACHUTE); });
}

// Members, not static: a Timer is constructed first, which starts the clock.
uint32_t Timer::now() const // NOLINT(readability-convert-member-functions-to-static)
{
    return SDL_GetTicks();
}

void Timer::sleep(unsigned int ms) const // NOLINT(readability-convert-member-functions-to-static)
{
    SDL_Delay(ms);
}

} // namespace Wrappers
