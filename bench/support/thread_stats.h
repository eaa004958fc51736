#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace Bench {

// What the scheduler has counted for one thread so far.
struct ThreadStats {
    long tid = 0;
    std::string name;               // the thread's comm, e.g. "threaded-ml" for libpulse's
    unsigned long long started = 0; // clock ticks after boot
    unsigned long long cpuNs = 0;
    long voluntary = 0;   // switches away because it waited: its wake-ups
    long involuntary = 0; // switches away because it was preempted
};

// Every thread of a process at one moment, in the order they started (by
// thread id within a clock tick: ids wrap around on a busy machine). Read
// from /proc/PID/task: stat for the start, schedstat for the CPU time (in
// nanoseconds; a clock tick is too coarse for an idle process) and status
// for the switches.
class ProcessStats {
public:
    static ProcessStats of(pid_t pid);

    const std::vector<ThreadStats>& threads() const { return _threads; }
    // CPU time of every thread alive now since `earlier`, in ms; a thread
    // that has started since counts from zero. A thread that started and
    // ended in between is not seen.
    double cpuMsSince(const ProcessStats& earlier) const;
    // This thread's counts minus its counts in `earlier` (zero there when
    // it had not started yet).
    ThreadStats since(const ThreadStats& now) const;

private:
    std::vector<ThreadStats> _threads;
};

// The process's peak resident memory so far (VmHWM), in KiB; -1 when it
// cannot be read.
long peakMemoryKb(pid_t pid);

} // namespace Bench
