#include "support/sleep_loop.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace Bench {

SleepLoop::SleepLoop() : _pid(fork())
{
    if (_pid == 0) {
        const timespec pause{0, 50 * 1000 * 1000};
        for (;;)
            nanosleep(&pause, nullptr);
    }
}

SleepLoop::~SleepLoop()
{
    if (_pid > 0) {
        kill(_pid, SIGKILL);
        waitpid(_pid, nullptr, 0);
    }
}

} // namespace Bench
