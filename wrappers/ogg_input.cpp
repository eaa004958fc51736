#include "wrappers/ogg_input.h"

#include "utils/errors.h"
#include "wrappers/net.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace Wrappers {

namespace {

// Room for the largest UDP payload, so that a datagram is taken whole.
constexpr int datagramCapacity = 65536;
// As far as the decoding library itself searches for a page before it
// calls a stream foreign.
constexpr size_t foreignLimit = 65536;
// How long one wait for a datagram lasts before a stop request is looked at.
constexpr int stopCheckMs = 100;
// Accepted bytes held for the library beyond which the socket is no longer
// drained ahead of it: far more than any sender's lead.
constexpr size_t heldLimit = size_t{1} << 20;
// Served bytes kept at the front of _pages before they are let go.
constexpr size_t compactAfter = size_t{64} * 1024;

} // namespace

struct OggInput::Sync {
    ogg_sync_state state;
};

OggInput::OggInput() : _sync(std::make_unique<Sync>()), _datagram(datagramCapacity)
{
    ogg_sync_init(&_sync->state);
}

OggInput::~OggInput()
{
    ogg_sync_clear(&_sync->state);
}

void OggInput::reset(Net* net)
{
    ogg_sync_reset(&_sync->state);
    _net = net;
    _pages.clear();
    _served = 0;
    _filter.reset();
    _linkEnded = false;
    _endReported = false;
    _skipped = 0;
    _foreign = false;
    _broken = false;
    _newest = Newest();
}

void OggInput::setStopCheck(std::function<bool()> stopRequested)
{
    _stopRequested = std::move(stopRequested);
}

size_t OggInput::read(void* dst, size_t size, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    _foreign = false;
    while (_served == _pages.size()) {
        if (stopRequested())
            return 0;
        if (_skipped > foreignLimit) {
            _skipped = 0;
            _foreign = true;
            return 0;
        }
        _linkEnded = _filter.linkEnded();
        if (_linkEnded && !_endReported) {
            // A link's last page, and nothing behind it yet: the end of the
            // stream, or a pause between links. Either way the decoder
            // plays what it holds now instead of after a read wait.
            if (!receive(1)) {
                _endReported = true;
                return 0;
            }
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || _broken)
            return 0;
        // Without a stop check there is nothing to look at between waits.
        const long long wait = _stopRequested ? std::min<long long>(left, stopCheckMs) : left;
        if (!receive(static_cast<int>(wait)) && !_stopRequested)
            return 0;
    }
    const size_t n = std::min(size, _pages.size() - _served);
    std::memcpy(dst, _pages.data() + _served, n);
    _served += n;
    return n;
}

// One datagram into the framing layer, then whatever else is waiting at
// the socket. False when nothing came in time.
bool OggInput::receive(int timeoutMs)
{
    if (!take(timeoutMs))
        return false;
    drain();
    return true;
}

void OggInput::drain()
{
    while (_pages.size() - _served < heldLimit && take(0)) {}
}

void OggInput::takeUntil(std::chrono::steady_clock::time_point until)
{
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || _pages.size() - _served >= heldLimit
            || !receive(static_cast<int>(left.count())))
            return;
    }
}

bool OggInput::take(int timeoutMs)
{
    if (!_net || _broken)
        return false;
    int n = 0;
    try {
        n = _net->receive(_datagram.data(), 1, static_cast<int>(_datagram.size()), timeoutMs);
    } catch (const Utils::NetErrorTimeout&) {
        return false;
    } catch (const Utils::NetError&) {
        _broken = true; // waiting again would only fail again at once
        return false;
    }
    if (n <= 0)
        return false;
    char* room = ogg_sync_buffer(&_sync->state, n);
    if (!room)
        return false;
    std::memcpy(room, _datagram.data(), static_cast<size_t>(n));
    ogg_sync_wrote(&_sync->state, n);
    takePages();
    return true;
}

void OggInput::noteNewest(int64_t granule, uint32_t serial, bool ends,
                          std::chrono::steady_clock::time_point now)
{
    if (granule < 0 && !ends)
        return; // no packet ends on this page
    const bool sameLink = _newest.known && _newest.serial == serial;
    _newest.start = sameLink ? _newest.granule : -1;
    if (granule >= 0)
        _newest.granule = granule;
    _newest.known = true;
    _newest.serial = serial;
    _newest.ends = ends;
    _newest.taken = now;
    if (_arrived && granule >= 0)
        _arrived(_newest);
}

// Moves every whole, checked page out of the framing layer into _pages;
// bytes that belong to no page are dropped there.
void OggInput::takePages()
{
    if (_served == _pages.size() || _served > compactAfter) {
        _pages.erase(_pages.begin(), _pages.begin() + static_cast<long>(_served));
        _served = 0;
    }
    const auto now = std::chrono::steady_clock::now();
    ogg_page page;
    long r = 0;
    while ((r = ogg_sync_pageseek(&_sync->state, &page)) != 0) {
        if (r < 0) {
            _skipped += static_cast<size_t>(-r); // not part of any page
            continue;
        }
        _skipped = 0;
        if (!_filter.accept(page.header, static_cast<size_t>(page.header_len),
                            static_cast<size_t>(page.body_len)))
            continue;
        _pages.insert(_pages.end(), page.header, page.header + page.header_len);
        _pages.insert(_pages.end(), page.body, page.body + page.body_len);
        _endReported = false;
        noteNewest(ogg_page_granulepos(&page), static_cast<uint32_t>(ogg_page_serialno(&page)),
                   ogg_page_eos(&page) != 0, now);
    }
}

} // namespace Wrappers
