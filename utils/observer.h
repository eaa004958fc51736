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

template <class T> class _Connection : public _ConnectionBase {
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
// Lock order: signalsMutex, then one of a signal's two locks, never both.
// Values are taken out of the queue before their handlers run, so an
// emitting thread never waits for a handler, and a value emitted meanwhile
// is delivered in the next pass. Handlers run with signalsMutex and the
// signal's _connectionsMutex held, so a handler must not connect, or create
// or destroy a signal.
class Signal {
public:
    // How emissions that wait for the same pass are kept: every one, or one
    // per value (a signal that stands for a state rather than an event,
    // whose queue must stay small however often it is raised).
    enum class Pending { Every, OnePerValue };

    explicit Signal(Pending pending = Pending::Every);
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    // Main thread, during start-up.
    template <class T> void connect(T* object, void (T::*method)(int))
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
    const Pending _keep;
    std::deque<int> _pending;
    Wrappers::Mutex _pendingMutex;
    std::deque<int> _delivering; // main thread only

    static std::list<Signal*> signals;
    static Wrappers::Mutex signalsMutex;
};

} // namespace Utils
