#pragma once

#include <condition_variable>
#include <mutex>

namespace Wrappers {

// A flag that one thread raises once and another waits for with a
// deadline, sleeping until it is raised or the deadline passes instead of
// waking now and then to look.
class Wakeup {
public:
    Wakeup() = default;
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // Any thread.
    void raise();
    bool raised() const;
    // Waits at most timeoutMs; returns whether the flag is raised.
    bool wait(int timeoutMs) const;

private:
    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    bool _raised = false;
};

} // namespace Wrappers
