#pragma once

#include "wrappers/sdl_mutex.h"

#include <deque>
#include <list>
#include <memory>

namespace Utils {

class _ConnectionBase {
public:
    virtual ~_ConnectionBase() = default;
    virtual void emit(int value) = 0;
};

template <class T>
class _Connection : public _ConnectionBase {
public:
    _Connection(T* object, void (T::*method)(int)) : _object(object), _method(method) {}
    void emit(int value) override { (_object->*_method)(value); }

private:
    T* _object;
    void (T::*_method)(int);
};

// A deferred signal: any thread emits (the value is only queued), and the
// main thread delivers every queued value to the connected member
// functions inside Signal::run().
//
// Lock order: signalsMutex, then a signal's _pendingMutex, then its
// _connectionsMutex. Handlers run with all three held, so a handler must
// not emit the signal being delivered, connect, or create or destroy a
// signal.
class Signal {
public:
    Signal();
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    // Main thread, during start-up.
    template <class T>
    void connect(T* object, void (T::*method)(int))
    {
        Wrappers::MutexLock lock(_connectionsMutex);
        _connections.push_back(std::make_unique<_Connection<T>>(object, method));
    }

    // Any thread.
    void operator()(int value);

    // Main thread only: delivers every queued value of every signal, signal
    // by signal in the order of their construction.
    static void run();

private:
    void _run();

    std::list<std::unique_ptr<_ConnectionBase>> _connections;
    Wrappers::Mutex _connectionsMutex;
    std::deque<int> _pending;
    Wrappers::Mutex _pendingMutex;

    static std::list<Signal*> signals;
    static Wrappers::Mutex signalsMutex;
};

} // namespace Utils
