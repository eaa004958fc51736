#include "utils/observer.h"

#include <algorithm>

namespace Utils {

std::list<Signal*> Signal::signals;
Wrappers::Mutex Signal::signalsMutex;

Signal::Signal(Pending pending) : _keep(pending)
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
    if (_keep == Pending::OnePerValue && std::find(_pending.begin(), _pending.end(), value) != _pending.end())
        return;
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
    {
        Wrappers::MutexLock pendingLock(_pendingMutex);
        _delivering.swap(_pending);
    }
    while (!_delivering.empty()) {
        {
            Wrappers::MutexLock connectionsLock(_connectionsMutex);
            for (auto& connection : _connections)
                connection->emit(_delivering.front());
        }
        _delivering.pop_front();
    }
}

} // namespace Utils
