#include "wrappers/wakeup.h"

#include <chrono>

namespace Wrappers {

void Wakeup::raise()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _raised = true;
    }
    _changed.notify_all();
}

bool Wakeup::raised() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _raised;
}

bool Wakeup::wait(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return _raised; });
}

} // namespace Wrappers
