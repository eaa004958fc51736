#pragma once

namespace Wrappers {

// A flag that other threads raise and one thread waits for with a
// deadline, sleeping until it is raised or the deadline passes instead of
// waking now and then to look. It stays raised until that thread clears
// it. Behind it is an eventfd, readable while the flag is raised, so that
// the waiting thread can sleep on a socket and the flag at once.
class Wakeup {
public:
    // Prints the system's reason and throws Utils::NetErrorWakeup when no
    // eventfd can be had.
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // Any thread.
    void raise();
    bool raised() const;
    // The waiting thread. Waits at most timeoutMs; returns whether the
    // flag is raised.
    bool wait(int timeoutMs) const;
    void clear();
    // Readable while the flag is raised; for poll() beside other
    // descriptors.
    int descriptor() const { return _fd; }

private:
    int _fd;
};

} // namespace Wrappers
