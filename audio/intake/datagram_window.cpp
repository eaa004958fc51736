#include "audio/intake/datagram_window.h"

#include <algorithm>
#include <cstring>

namespace Audio {

namespace {

// Pending bytes may pass maxPendingBytes by one datagram before full() says
// so; history and the room for one more come on top.
constexpr std::size_t capacity =
    DatagramWindow::maxPendingBytes + (2 + DatagramWindow::historyCount) * DatagramWindow::maxDatagram;

} // namespace

DatagramWindow::DatagramWindow() : _bytes(new unsigned char[capacity])
{
}

void DatagramWindow::clear()
{
    _end = 0;
    _count = 0;
    _offset = 0;
    _pendingBytes = 0;
    _historyCount = 0;
}

unsigned char* DatagramWindow::room()
{
    // The bytes in use go back to the start early once they are few, so
    // that the memory touched stays small; moving them costs at most a
    // third of a byte per byte taken.
    if (_end + maxDatagram > capacity || (_end >= maxDatagram && 4 * liveBytes() <= _end))
        compact();
    return _bytes.get() + _end;
}

void DatagramWindow::commit(std::size_t size)
{
    if (size == 0 || _count == maxPending)
        return;
    _pending[_count++] = Slot{_end, size};
    _end += size;
    _pendingBytes += size;
}

void DatagramWindow::consume(std::size_t n)
{
    while (n > 0 && _count > 0) {
        const std::size_t step = std::min(n, frontBytes());
        _offset += step;
        n -= step;
        if (_offset < _pending[0].size)
            break;
        toHistory(_pending[0]);
        _pendingBytes -= _pending[0].size;
        std::copy(_pending.begin() + 1, _pending.begin() + static_cast<long>(_count), _pending.begin());
        --_count;
        _offset = 0;
    }
}

bool DatagramWindow::repeatsEarlier(std::size_t i) const
{
    for (std::size_t k = 0; k < i; ++k) {
        if (same(_pending[k], _pending[i]))
            return true;
    }
    for (std::size_t k = 0; k < _historyCount; ++k) {
        if (same(_history[k], _pending[i]))
            return true;
    }
    return false;
}

void DatagramWindow::reorder(const std::uint16_t* order, std::size_t n)
{
    std::array<Slot, maxPending> kept{};
    std::array<bool, maxPending> listed{};
    for (std::size_t i = 0; i < n; ++i) {
        kept[i] = _pending[order[i]];
        listed[order[i]] = true;
    }
    if (n == 0 || order[0] != 0)
        _offset = 0;
    for (std::size_t i = 0; i < _count; ++i) {
        if (!listed[i]) {
            _pendingBytes -= _pending[i].size;
            toHistory(_pending[i]);
        }
    }
    _pending = kept;
    _count = n;
}

void DatagramWindow::toHistory(const Slot& s)
{
    if (_historyCount == historyCount) {
        std::copy(_history.begin() + 1, _history.end(), _history.begin());
        --_historyCount;
    }
    _history[_historyCount++] = s;
}

// Moves the slots in use to the start of the buffer, lowest first, so that
// no move overwrites bytes still to be moved.
void DatagramWindow::compact()
{
    std::array<Slot*, maxPending + historyCount> live{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < _count; ++i)
        live[n++] = &_pending[i];
    for (std::size_t i = 0; i < _historyCount; ++i)
        live[n++] = &_history[i];
    std::sort(live.begin(), live.begin() + static_cast<long>(n),
              [](const Slot* a, const Slot* b) { return a->at < b->at; });
    std::size_t to = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Slot& s = *live[i];
        std::memmove(_bytes.get() + to, _bytes.get() + s.at, s.size);
        s.at = to;
        to += s.size;
    }
    _end = to;
}

std::size_t DatagramWindow::liveBytes() const
{
    std::size_t n = _pendingBytes;
    for (std::size_t i = 0; i < _historyCount; ++i)
        n += _history[i].size;
    return n;
}

bool DatagramWindow::same(const Slot& a, const Slot& b) const
{
    return a.size == b.size && std::memcmp(data(a), data(b), a.size) == 0;
}

} // namespace Audio
