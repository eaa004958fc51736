#pragma once

#include "wrappers/sdl_mutex.h"

#include <memory>

namespace Wrappers {

struct ThreadHandle;

// Base of a worker thread with a cooperative stop. The worker polls
// checkStop() at its own safe points and returns from threadMain().
class Thread {
public:
    Thread();
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Controlling thread. Starts a worker unless one is running.
    void startThread();
    // Controlling thread, never the worker itself. Requests a stop, waits
    // until threadMain() has returned and joins the worker.
    void stopThread();

protected:
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
    std::unique_ptr<ThreadHandle> _thread;
};

} // namespace Wrappers
