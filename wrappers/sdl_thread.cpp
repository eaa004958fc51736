#include "wrappers/sdl_thread.h"

#include "utils/console.h"
#include "wrappers/sdl_timer.h"

#include <SDL.h>
#include <SDL_thread.h>

#include <exception>
#include <string>

namespace Wrappers {

Thread::Thread() : _running(false), _stop(false)
{
}

Thread::~Thread()
{
    stopThread();
}

void Thread::startThread()
{
    {
        MutexLock lock(_runningMutex);
        if (_running)
            return;
        _running = true;
    }
    // A worker that ended by itself is joined before its handle is reused.
    join();
    SDL_Thread* thread = SDL_CreateThread(&Thread::_threadMain, this);
    if (!thread) {
        Utils::printErr(std::string("SDL_CreateThread: ") + SDL_GetError() + "\n");
        MutexLock lock(_runningMutex);
        _running = false;
        return;
    }
    _thread = thread;
}

void Thread::stopThread()
{
    bool running = false;
    {
        MutexLock lock(_runningMutex);
        running = _running;
    }
    if (running) {
        {
            MutexLock lock(_stopMutex);
            _stop = true;
        }
        Timer timer;
        do {
            timer.sleep(10);
            MutexLock lock(_runningMutex);
            running = _running;
        } while (running);
        // The worker has returned: nobody else touches the flags now.
        _running = false;
        _stop = false;
    }
    join();
}

bool Thread::checkStop()
{
    MutexLock lock(_stopMutex);
    return _stop;
}

void Thread::join()
{
    if (_thread) {
        SDL_WaitThread(_thread, nullptr);
        _thread = nullptr;
    }
}

int Thread::_threadMain(void* arg)
{
    auto* self = static_cast<Thread*>(arg);
    try {
        self->threadMain();
    } catch (...) {
        // An error nobody handled ends the process, as it would on any
        // thread; it must not unwind through SDL's C frames.
        Utils::printErr("Thread: unhandled error, terminating\n");
        std::terminate();
    }
    MutexLock lock(self->_runningMutex);
    self->_running = false;
    return 0;
}

} // namespace Wrappers
