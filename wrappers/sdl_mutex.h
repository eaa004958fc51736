#pragma once

#include <memory>

namespace Wrappers {

struct MutexHandle;

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
    std::unique_ptr<MutexHandle> _mutex;
};

// Holds a Mutex for one scope, so that an exception cannot leave it locked.
class MutexLock {
public:
    explicit MutexLock(Mutex& m) : _m(m) { _m.lock(); }
    ~MutexLock() { _m.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& _m;
};

} // namespace Wrappers
