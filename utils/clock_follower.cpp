#include "utils/clock_follower.h"

#include <algorithm>
#include <cmath>

namespace Utils {

namespace {

// The first seconds of a stream fill the output and its queue; what waits
// then says nothing about the sender's clock yet.
constexpr double startupSeconds = 2.0;
// Seconds of observations averaged into the amount to keep.
constexpr double settleSeconds = 4.0;
// Time constant of the smoothing once settled: observations scatter by a
// few milliseconds with the moments datagrams are seen.
constexpr double smoothingSeconds = 4.0;
// Distance from the amount to keep within which the speed stays exactly 1:
// several times what the smoothing leaves of that scatter.
constexpr double deadBand = 0.030;
// Speed change per second of distance beyond the dead band: the whole range
// is used 40 ms beyond it, so a sender within the range is held within
// 70 ms of the amount to keep. With the smoothing's lag this is a
// well-damped loop (damping about 0.7).
constexpr double gain = ClockFollower::range / 0.040;
// The largest speed change from one buffer to the next.
constexpr double maxStep = ClockFollower::range / 10;
// A move this large is no drift but a new situation (a stream that went
// on after a pause, a link with other granule positions): start afresh.
constexpr double jumpSeconds = 2.0;
// How long the range must fall short before the sender counts as out of it.
constexpr double saturatedLimitSeconds = 10.0;

} // namespace

ClockFollower::ClockFollower(double periodSeconds) : _period(periodSeconds)
{
}

void ClockFollower::reset()
{
    _observed = 0;
    _settled = false;
    _smoothed = 0;
    _target = 0;
    _speed = 1.0;
    _saturatedFor = 0;
    _outOfRange = false;
}

double ClockFollower::observe(double waitingSeconds)
{
    if (_settled && std::fabs(waitingSeconds - _smoothed) > jumpSeconds)
        reset();
    ++_observed;
    if (!_settled)
        settle(waitingSeconds);
    else {
        _smoothed += (waitingSeconds - _smoothed) * std::min(1.0, _period / smoothingSeconds);
        follow();
    }
    return _speed;
}

// Averages what waits once the start-up is over; after settleSeconds of
// it, that average is the amount to keep, and never less than one buffer
// period, below which the decoder would wait for the network mid-buffer.
void ClockFollower::settle(double waitingSeconds)
{
    const long startup = std::lround(startupSeconds / _period);
    const long settling = _observed - startup;
    if (settling <= 0)
        return;
    _smoothed += (waitingSeconds - _smoothed) / static_cast<double>(settling);
    if (static_cast<double>(settling) * _period < settleSeconds)
        return;
    _settled = true;
    _target = std::max(_smoothed, _period);
}

void ClockFollower::follow()
{
    const double wanted = wantedSpeed();
    const double limited = std::clamp(wanted, 1.0 - range, 1.0 + range);
    _saturatedFor = wanted == limited ? 0 : _saturatedFor + _period;
    if (_saturatedFor >= saturatedLimitSeconds && !_outOfRangeTold)
        _outOfRange = true;
    // Within a step of 1, land on exactly 1, so that the dead band plays
    // the stream untouched again.
    const double step = std::clamp(limited - _speed, -maxStep, maxStep);
    _speed = std::fabs(limited - 1.0) < 1e-12 && std::fabs(_speed - 1.0) <= maxStep ? 1.0 : _speed + step;
}

double ClockFollower::wantedSpeed() const
{
    const double distance = _smoothed - _target;
    const double beyond = std::max(0.0, std::fabs(distance) - deadBand);
    return 1.0 + std::copysign(gain * beyond, distance);
}

bool ClockFollower::outOfRange()
{
    if (!_outOfRange)
        return false;
    _outOfRange = false;
    _outOfRangeTold = true;
    return true;
}

} // namespace Utils
