#include "utils/observer.h"

namespace Utils {

std::list<Signal*> Signal::signals;
Wrappers::Mutex Signal::signalsMutex;

Signal::Signal()
{
    Wrappers::MutexLock lock(signalsMutex);
    signals.push_back(this);
}

Signal::~Signal()
{
    Wrappers::MutexLock lock(signalsMutex);
    signals.remove(this);
}

void Signal::operator()(int value)
{
    Wrappers::MutexLock lock(_pendingMutex);
    _pending.push_back(value);
}

void Signal::run()
{
    Wrappers::MutexLock lock(signalsMutex);
    for (Signal* signal : signals)
        signal->_run();
}

void Signal::_run()
{
    // The queue lock is held across the handlers, so an emission made
    // meanwhile waits and is delivered in the next pass, after these.
    Wrappers::MutexLock pendingLock(_pendingMutex);
    while (!_pending.empty()) {
        {
            Wrappers::MutexLock connectionsLock(_connectionsMutex);
            for (auto& connection : _connections)
                connection->emit(_pending.front());
        }
        _pending.pop_front();
    }
}

} // namespace Utils
