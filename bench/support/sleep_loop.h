#pragma once

#include <sys/types.h>

namespace Bench {

// A child process that does nothing but sleep 50 ms at a time: the floor
// for a program whose main loop must pass 20 times a second.
class SleepLoop {
public:
    SleepLoop();
    ~SleepLoop(); // kills and reaps the child
    SleepLoop(const SleepLoop&) = delete;
    SleepLoop& operator=(const SleepLoop&) = delete;

    pid_t pid() const { return _pid; }

private:
    pid_t _pid;
};

} // namespace Bench
