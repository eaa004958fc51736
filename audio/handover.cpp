#include "audio/handover.h"

#include "audio/format.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace Audio {

namespace {

// Interleaved samples in `frames` frames, for offsets into a buffer.
std::ptrdiff_t samples(long frames)
{
    return std::ptrdiff_t{channels} * frames;
}

// How much before the device's expected request `meanwhile` must end.
constexpr auto requestMargin = std::chrono::milliseconds(25);

} // namespace

Handover::Handover(unsigned int frames)
{
    resize(frames);
}

void Handover::resize(unsigned int frames)
{
    _frames = frames;
    _first.assign(static_cast<size_t>(samples(frames)), 0.0f);
    _second.assign(static_cast<size_t>(samples(frames)), 0.0f);
    _front = _first.data();
    _back = _second.data();
}

Handover::Clock::duration Handover::period() const
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(_frames) / sampleRate));
}

void Handover::pace(bool paced)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    _paced = paced;
    _pacer = OutputPacer(paced ? period() : OutputPacer::Clock::duration::zero());
}

void Handover::setRunning(bool running)
{
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _fresh = false;
        _taken = false;
        _running = running;
        _flowing = false;
        _pacer.restart();
        _serverSilence.restart();
        if (running) {
            _firstSinceStart = true;
            _everCopied = false;
            _clock = Sink::DeviceClock{0, 0, Clock::now()};
        }
    }
    notifyEveryone();
}

// After `_running` changed: every wait looks again.
void Handover::notifyEveryone()
{
    _asked.notify_all();
    _handedOver.notify_all();
    _stopped.notify_all();
}

bool Handover::handOver(Clock::time_point deadline, const Sink::Meanwhile& meanwhile)
{
    Lock lock(_mutex);
    // Takes of the silence played before the first hand-over do not count:
    // otherwise the first hand-over would return at once and every buffer
    // would wait a period longer in the queue.
    const Sink::Meanwhile none;
    const Sink::Meanwhile& use = _firstSinceStart ? none : meanwhile;
    if (_firstSinceStart)
        _taken = false;
    _firstSinceStart = false;
    // After a late buffer one is queued ahead: the device copies it at its
    // next request, and the time until then is the filler's too.
    if (_fresh)
        useTimeUntilRequest(lock, use);
    if (!waitForCopy(lock, deadline))
        return false;
    swapIn();
    if (!_taken)
        useTimeUntilRequest(lock, use);
    if (!_asked.wait_until(lock, deadline, [this] { return _taken || !_running; }))
        return false;
    _taken = false;
    return true;
}

bool Handover::drain(Clock::time_point deadline)
{
    std::fill_n(_back, samples(_frames), 0.0f);
    bool drained = false;
    {
        Lock lock(_mutex);
        _draining = true;
        drained = waitForCopy(lock, deadline);
        if (drained && _running) {
            swapIn();
            drained = waitForCopy(lock, deadline) && waitForRequestAfterCopy(lock, deadline);
        }
        _draining = false;
        _running = false;
    }
    notifyEveryone();
    return drained;
}

// With the lock held: until the front has been copied, or the stream stopped.
bool Handover::waitForCopy(Lock& lock, Clock::time_point deadline)
{
    return _asked.wait_until(lock, deadline, [this] { return !_fresh || !_running; });
}

// With the lock held, once the front has been copied: until the device has
// begun a request after the one that copied it, or the stream stopped.
bool Handover::waitForRequestAfterCopy(Lock& lock, Clock::time_point deadline)
{
    return _asked.wait_until(lock, deadline, [this] { return _requests > _copiedBy || !_running; });
}

// With the lock held, once the front has been copied.
void Handover::swapIn()
{
    std::swap(_front, _back);
    _fresh = true;
    _handedOver.notify_all();
}

// The device asks about a period after it last did. Nothing can end
// `meanwhile` when it asks, so it ends a little before: a request that
// comes early (some servers ask in steps of their own period) must not
// wait, or the next buffer would be late.
void Handover::useTimeUntilRequest(Lock& lock, const Sink::Meanwhile& meanwhile)
{
    if (!meanwhile)
        return;
    const Clock::time_point expected = _askedAt + period() - requestMargin;
    lock.unlock();
    meanwhile(expected);
    lock.lock();
}

Sink::DeviceClock Handover::deviceClock() const
{
    const std::lock_guard<std::mutex> lock(_mutex);
    return _clock;
}

void Handover::deliver(float* out, unsigned int frames)
{
    unsigned int copied = 0;
    {
        Lock lock(_mutex);
        const unsigned long request = ++_requests;
        const ServerSilence::Found silent = _serverSilence.asked(Clock::now(), _clock.frames);
        // Silence before the first buffer is the stream's start, not a gap.
        if (_everCopied) {
            _clock.serverSilentFrames += silent.frames;
            _clock.serverGaps += silent.newGap ? 1 : 0;
        }
        // Only a drain waits for a request to begin; anyone else would be
        // woken for nothing.
        if (_draining)
            _asked.notify_all();
        waitForTurn(lock);
        copied = copy(out, frames, request);
        _askedAt = Clock::now();
        if (_fresh)
            _lastCopied = _askedAt;
        count(frames, copied);
        _flowing = _fresh;
        _fresh = false;
        _taken = true;
        _pacer.returned(_askedAt);
    }
    _asked.notify_all();
    if (copied < frames)
        std::memset(out + samples(copied), 0, sizeof(float) * static_cast<size_t>(samples(frames - copied)));
}

// Device thread, with the lock held: the pacer's hold, then, while buffers
// come one after another, the wait for the next one.
void Handover::waitForTurn(Lock& lock)
{
    const Clock::time_point now = Clock::now();
    const Clock::time_point until = _pacer.holdUntil(now);
    if (until > now)
        _stopped.wait_until(lock, until, [this] { return !_running; });
    if (_paced && _flowing && !_fresh)
        _handedOver.wait_until(lock, _lastCopied + period(), [this] { return _fresh || !_running; });
}

// Device thread, with the lock held: the frames of the fresh buffer that fit.
unsigned int Handover::copy(float* out, unsigned int frames, unsigned long request)
{
    if (!_fresh)
        return 0;
    _copiedBy = request;
    const unsigned int copied = std::min(frames, _frames);
    std::memcpy(out, _front, sizeof(float) * static_cast<size_t>(samples(copied)));
    return copied;
}

// Device thread, with the lock held. Silence before the first buffer is the
// stream's start, not a gap.
void Handover::count(unsigned int frames, unsigned int copied)
{
    _everCopied = _everCopied || copied > 0;
    _clock.frames += frames;
    if (_everCopied)
        _clock.starvedFrames += frames - copied;
    _clock.askedAt = _askedAt;
}

} // namespace Audio
