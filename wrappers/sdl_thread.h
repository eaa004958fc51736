#pragma once

#include "wrappers/sdl_mutex.h"

struct SDL_Thread;

namespace Wrappers {

// Base of a worker thread with a cooperative stop. The worker polls
// checkStop() at its own safe points and returns from threadMain().
//
// The contract for a subclass:
// - Its destructor calls stopThread() before anything else. ~Thread() runs
//   after the subclass's members are gone and its threadMain() is no longer
//   reachable, too late for a worker that still uses them.
// - Nothing is deleted through a Thread*: the destructor is not virtual, and
//   protected so that the compiler refuses it.
// - One controlling thread calls startThread() and stopThread(); the worker
//   never calls stopThread() (it would wait for itself).
// - threadMain() may return on its own; startThread() then starts a new
//   worker. An exception leaving threadMain() ends the process.
class Thread {
public:
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Controlling thread. Starts a worker unless one is running.
    void startThread();
    // Controlling thread, never the worker itself. Requests a stop, waits
    // until threadMain() has returned and joins the worker.
    void stopThread();

protected:
    Thread();
    ~Thread(); // stops a worker still running, as a last resort
    virtual void threadMain() = 0;
    // Worker thread: true once a stop has been requested.
    bool checkStop();

private:
    static int _threadMain(void* arg);
    void join();

    Mutex _runningMutex;
    bool _running;
    Mutex _stopMutex;
    bool _stop;
    SDL_Thread* _thread = nullptr;
};

} // namespace Wrappers
