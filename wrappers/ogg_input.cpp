#include "wrappers/ogg_input.h"

#include "utils/errors.h"
#include "wrappers/net.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <cstring>

namespace Wrappers {

namespace {

// Room for the largest UDP payload, so that a datagram is taken whole.
constexpr int datagramCapacity = 65536;
// As far as the decoding library itself searches for a page before it
// calls a stream foreign.
constexpr size_t foreignLimit = 65536;

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
    _lastPageEnds = false;
    _linkEnded = false;
    _endReported = false;
    _skipped = 0;
    _foreign = false;
}

size_t OggInput::read(void* dst, size_t size, int timeoutMs)
{
    _foreign = false;
    while (_served == _pages.size()) {
        if (_skipped > foreignLimit) {
            _skipped = 0;
            _foreign = true;
            return 0;
        }
        _linkEnded = _lastPageEnds;
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
        if (!receive(timeoutMs))
            return 0;
    }
    const size_t n = std::min(size, _pages.size() - _served);
    std::memcpy(dst, _pages.data() + _served, n);
    _served += n;
    return n;
}

// One datagram into the framing layer; false when none came in time.
bool OggInput::receive(int timeoutMs)
{
    if (!_net)
        return false;
    int n = 0;
    try {
        n = _net->receive(_datagram.data(), 1, static_cast<int>(_datagram.size()), timeoutMs);
    } catch (const Utils::NetError&) {
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

// Moves every whole, checked page out of the framing layer into _pages;
// bytes that belong to no page are dropped there.
void OggInput::takePages()
{
    if (_served == _pages.size()) {
        _pages.clear();
        _served = 0;
    }
    ogg_page page;
    long r;
    while ((r = ogg_sync_pageseek(&_sync->state, &page)) != 0) {
        if (r < 0) {
            _skipped += static_cast<size_t>(-r); // not part of any page
            continue;
        }
        _skipped = 0;
        _pages.insert(_pages.end(), page.header, page.header + page.header_len);
        _pages.insert(_pages.end(), page.body, page.body + page.body_len);
        _lastPageEnds = ogg_page_eos(&page) != 0;
        _endReported = false;
    }
}

} // namespace Wrappers
