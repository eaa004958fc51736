#include "audio/clock_follower.h"

#include <algorithm>
#include <cmath>

namespace Audio {

namespace {

// The largest speed change from one buffer to the next: a change of speed
// is a change of pitch, which must not be heard as one.
constexpr double maxStep = ClockFollower::range / 10;
// Standard errors a rate must stand beyond the range by to count as beyond it.
constexpr double confidence = 3.0;
// How long the range must fall short before the sender counts as out of it.
constexpr double saturatedLimitSeconds = 10.0;

} // namespace

ClockFollower::ClockFollower(double periodSeconds) : _period(periodSeconds)
{
}

void ClockFollower::reset()
{
    *this = ClockFollower(_period);
}

double ClockFollower::follow(double rate, double uncertainty)
{
    const double limited = std::clamp(rate, 1.0 - range, 1.0 + range);
    const bool beyond = std::fabs(rate - 1.0) - confidence * uncertainty > range;
    _saturatedFor = beyond ? _saturatedFor + _period : 0;
    if (_saturatedFor >= saturatedLimitSeconds && !_outOfRangeTold)
        _outOfRange = true;
    // Within a step, land on the rate itself, so that exactly 1 plays the
    // stream untouched again.
    const double step = limited - _speed;
    _speed = std::fabs(step) <= maxStep ? limited : _speed + std::copysign(maxStep, step);
    _slowest = std::min(_slowest, _speed);
    _fastest = std::max(_fastest, _speed);
    return _speed;
}

bool ClockFollower::outOfRange()
{
    if (!_outOfRange)
        return false;
    _outOfRange = false;
    _outOfRangeTold = true;
    return true;
}

} // namespace Audio
