#pragma once

struct SDL_mutex;

namespace Wrappers {

// A platform lock that reports failure by throwing Utils::MutexError.
// Not recursive by contract: no caller locks a Mutex it already holds.
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    SDL_mutex* _mutex; // null when creation failed
};

// Holds a Mutex for one scope, so that an exception cannot leave it locked.
class MutexLock {
public:
    explicit MutexLock(Mutex& m) : _m(m) { _m.lock(); }
    // A failed unlock has been reported by the mutex; a destructor must not
    // throw on top of it.
    ~MutexLock()
    {
        try {
            _m.unlock();
        } catch (...) {
        }
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& _m;
};

} // namespace Wrappers
