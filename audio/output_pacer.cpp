#include "audio/output_pacer.h"

#include <algorithm>

namespace Audio {

namespace {

using namespace std::chrono_literals;

// A write to a queue with room takes well under a millisecond; one that
// waited took until the server's next request.
constexpr auto waitedAtLeast = 2ms;
// Below this period a hold would be as short as the server's own steps.
constexpr auto shortestHeldPeriod = 100ms;
// How much faster than the device the callbacks come: enough to outrun any
// difference between its clock and ours, so the queue fills up again.
constexpr int ahead = 32;

} // namespace

OutputPacer::OutputPacer(Clock::duration period)
    : _cadence(period >= shortestHeldPeriod ? period - period / ahead : Clock::duration::zero())
{
}

void OutputPacer::restart()
{
    _started = false;
    _filled = false;
}

OutputPacer::Clock::time_point OutputPacer::holdUntil(Clock::time_point now)
{
    const bool waited = _started && now - _returned >= waitedAtLeast;
    _filled = _filled || waited;
    if (_cadence == Clock::duration::zero() || !_filled)
        return now;
    // After a write that waited the queue is full now; otherwise the
    // cadence goes on from where the last hold was due to end.
    _due = (waited ? now : _due) + _cadence;
    return std::max(now, _due);
}

void OutputPacer::returned(Clock::time_point now)
{
    _returned = now;
    _started = true;
}

} // namespace Audio
