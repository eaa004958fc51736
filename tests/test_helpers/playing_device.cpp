#include "test_helpers/playing_device.h"

#include <algorithm>
#include <cstddef>

namespace TestHelpers {

PlayingDevice::PlayingDevice(Audio::Handover& handover)
    : _handover(handover)
    , _stepped(true)
    , _period(0)
    , _out(2 * static_cast<size_t>(handover.frames()))
    , _thread([this] { run(); })
{
}

PlayingDevice::PlayingDevice(Audio::Handover& handover, std::chrono::microseconds period)
    : _handover(handover)
    , _stepped(false)
    , _period(period)
    , _due(std::chrono::steady_clock::now())
    , _out(2 * static_cast<size_t>(handover.frames()))
    , _thread([this] { run(); })
{
}

PlayingDevice::~PlayingDevice()
{
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _quit = true;
    }
    _changed.notify_all();
    _thread.join();
}

void PlayingDevice::fill(Audio::Handover& handover, float value)
{
    std::fill_n(handover.back(), 2 * static_cast<size_t>(handover.frames()), value);
}

void PlayingDevice::step(std::chrono::microseconds pause)
{
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        ++_steps;
        _pauses.push_back(pause);
    }
    _changed.notify_all();
}

bool PlayingDevice::stepUntilPlayed(float value, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(_mutex);
    while (_played.empty() || _played.back() != value) {
        const size_t returned = _played.size();
        ++_steps;
        _pauses.push_back(std::chrono::microseconds::zero());
        _changed.notify_all();
        if (!_changed.wait_until(lock, deadline, [&] { return _played.size() > returned; }))
            return false;
    }
    return true;
}

int PlayingDevice::returned() const
{
    const std::lock_guard<std::mutex> lock(_mutex);
    return static_cast<int>(_played.size());
}

bool PlayingDevice::waitForReturned(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, timeout, [&] { return static_cast<int>(_played.size()) >= count; });
}

bool PlayingDevice::waitForSteps(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, timeout, [&] { return static_cast<int>(_played.size()) >= _steps; });
}

bool PlayingDevice::waitForStarted(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, timeout, [&] { return _started >= count; });
}

std::vector<float> PlayingDevice::played() const
{
    const std::lock_guard<std::mutex> lock(_mutex);
    const auto start = std::find_if(_played.begin(), _played.end(), [](float v) { return v != 0.0f; });
    return std::vector<float>(start, _played.end());
}

void PlayingDevice::run()
{
    std::unique_lock<std::mutex> lock(_mutex);
    while (nextRequest(lock)) {
        ++_started;
        _changed.notify_all();
        lock.unlock();
        request();
        lock.lock();
    }
}

// With the lock held: waits until the next request is due; false when the
// device ends instead.
bool PlayingDevice::nextRequest(std::unique_lock<std::mutex>& lock)
{
    if (!_stepped) {
        _changed.wait_until(lock, _due, [this] { return _quit; });
        _due += _period;
        return !_quit;
    }
    _changed.wait(lock, [this] { return _quit || _steps > _started; });
    if (_quit)
        return false;
    _due = std::chrono::steady_clock::now() + _pauses[static_cast<size_t>(_started)];
    _changed.wait_until(lock, _due, [this] { return _quit; });
    return !_quit;
}

void PlayingDevice::request()
{
    _handover.deliver(_out.data(), _handover.frames());
    const float first = _out.front();
    const bool whole = std::all_of(_out.begin(), _out.end(), [first](float v) { return v == first; });
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _played.push_back(whole ? first : -1.0f);
    }
    _changed.notify_all();
}

} // namespace TestHelpers
