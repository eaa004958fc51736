#include "wrappers/ogg_input.h"

#include "audio/intake/page_fields.h"
#include "utils/errors.h"
#include "wrappers/net.h"

#include <algorithm>
#include <chrono>

namespace Wrappers {

namespace {

// Room for the largest UDP payload, so that a datagram is taken whole.
constexpr int datagramCapacity = static_cast<int>(Audio::DatagramWindow::maxDatagram);
// As far as the decoding library itself searches for a page before it
// calls a stream foreign.
constexpr size_t foreignLimit = 65536;
// How long one wait for a datagram lasts before a stop request is looked at.
constexpr int stopCheckMs = 100;
// Accepted bytes held for the library beyond which the socket is no longer
// drained ahead of it: far more than any sender's lead.
constexpr size_t heldLimit = size_t{1} << 20;

} // namespace

OggInput::OggInput() : _intake(*this, _check, _guard, _code, &_pages)
{
}

OggInput::~OggInput() = default;

void OggInput::reset(Net* net)
{
    _intake.reset();
    _net = net;
    _pages.clear();
    _guard.reset();
    _linkEnded = false;
    _endReported = false;
    _foreign = false;
    _broken = false;
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
    while (_pages.held() == 0) {
        if (stopRequested())
            return 0;
        if (_intake.lostBytes() > foreignLimit) {
            _intake.forgetLost();
            _foreign = true;
            return 0;
        }
        // What waits at the socket may be the repair a gap waits for; if
        // not, the gap waits no longer, as there is nothing else to read.
        if (_intake.holding()) {
            if (take(0)) {
                drain();
                continue;
            }
            _intake.starve();
            if (_pages.held() != 0)
                break;
        }
        _linkEnded = _intake.linkEnded();
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
    return _pages.read(static_cast<unsigned char*>(dst), size);
}

// One datagram into the framing layer, then whatever else is waiting at
// the socket. False when nothing came in time and no page was held back
// for a swapped neighbour that did not come.
bool OggInput::receive(int timeoutMs)
{
    if (!take(timeoutMs)) {
        const size_t before = _pages.held();
        _intake.settle(_now ? _now() : std::chrono::steady_clock::now());
        return _pages.held() != before;
    }
    drain();
    return true;
}

void OggInput::drain()
{
    while (_pages.held() < heldLimit && take(0)) {}
}

void OggInput::takeUntil(std::chrono::steady_clock::time_point until)
{
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || _pages.held() >= heldLimit || !receive(static_cast<int>(left.count())))
            return;
    }
}

bool OggInput::take(int timeoutMs)
{
    if (!_net || _broken)
        return false;
    int n = 0;
    try {
        n = _net->receiveWaiting(_intake.room(), datagramCapacity, timeoutMs);
    } catch (const Utils::NetError&) {
        _broken = true; // waiting again would only fail again at once
        return false;
    }
    if (n <= 0)
        return false;
    _intake.commit(static_cast<size_t>(n), _now ? _now() : _net->arrivedAt());
    return true;
}

// A page the decoder may read, from the intake.
void OggInput::onPage(const unsigned char* page, size_t length)
{
    _pages.append(page, length);
    _endReported = false;
}

} // namespace Wrappers
