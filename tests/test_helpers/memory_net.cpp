#include "test_helpers/memory_net.h"

#include "utils/errors.h"

#include <algorithm>
#include <cstring>

namespace TestHelpers {

MemoryNet::MemoryNet(const std::vector<Bytes>& datagrams)
{
    push(datagrams);
}

void MemoryNet::push(const Bytes& datagram)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _entries.push_back({datagram, false});
}

void MemoryNet::push(const std::vector<Bytes>& datagrams)
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (const Bytes& d : datagrams)
        _entries.push_back({d, false});
}

void MemoryNet::pushStall(int count)
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (int i = 0; i < count; ++i)
        _entries.push_back({{}, true});
}

void MemoryNet::setRecordRequests(bool on)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _record = on;
}

std::vector<int> MemoryNet::requests() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _requests;
}

size_t MemoryNet::pending() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return size_t(std::count_if(_entries.begin(), _entries.end(), [](const Entry& e) { return !e.stall; }));
}

size_t MemoryNet::served() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _served;
}

void MemoryNet::setupListen(int)
{
}

void MemoryNet::setupSend(std::string, int)
{
}

int MemoryNet::sendData(const char*, int len)
{
    return len;
}

int MemoryNet::receive(void* buf, int size, int count, int timeout)
{
    std::lock_guard<std::mutex> lock(_mutex);
    long request = long(size) * long(count);
    if (_record)
        _requests.push_back(int(request));
    // An empty datagram is skipped: the UDP transport never returns 0.
    while (!_entries.empty() && !_entries.front().stall && _entries.front().data.empty())
        _entries.pop_front();
    if (_entries.empty() && _failWhenEmpty)
        throw Utils::NetErrorFault();
    if (_entries.empty())
        throw Utils::NetErrorTimeout();
    Entry& e = _entries.front();
    if (e.stall) {
        // A look at what is waiting now does not wait, so it uses no stall.
        if (timeout > 0)
            _entries.pop_front();
        throw Utils::NetErrorTimeout();
    }
    if (request <= 0)
        throw Utils::NetErrorFault();
    size_t n = std::min(size_t(request), e.data.size() - _offset);
    std::memcpy(buf, e.data.data() + _offset, n);
    _offset += n;
    _served += n;
    if (_offset == e.data.size()) {
        _entries.pop_front();
        _offset = 0;
    }
    return int(n);
}

Wrappers::NetImplementation* MemoryNet::accept(const std::function<bool()>&)
{
    return nullptr;
}

} // namespace TestHelpers
