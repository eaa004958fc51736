#include "audio/sender_clock.h"

#include "audio/format.h"
#include "utils/console.h"

#include <cmath>

namespace Audio {

SenderClock::SenderClock() : _follower(bufferSeconds), _cushion(bufferSeconds)
{
}

void SenderClock::reset(double periodSeconds, Sink::Clock::time_point start)
{
    _follower = ClockFollower(periodSeconds);
    _cushion = Cushion(periodSeconds);
    _estimator.reset();
    _device.reset();
    _startedAt = start;
    _deviceAskedAt = {};
}

// When the page came, against where its audio lies in its link.
void SenderClock::arrived(const PageArrival& page, double rate)
{
    if (page.serial != _estimatedSerial) {
        _estimator.restart();
        _estimatedSerial = page.serial;
    }
    const double start = page.start >= 0 ? static_cast<double>(page.start) / rate : -1.0;
    _estimator.observe(secondsSince(page.taken), start, static_cast<double>(page.granule) / rate);
}

// The device asks for frames by its own clock: how fast it does against
// this machine's is measured like the sender's, and the sender's rate is
// then taken against the device's. A request comes no earlier than the
// device has room, so the earliest requests follow its clock. The silence
// the server played on its own took the device's time too: without it the
// device would seem to have paused, a step that is no difference of rates.
void SenderClock::deviceAsked(const Sink::DeviceClock& clock)
{
    if (clock.frames == 0 || clock.askedAt == _deviceAskedAt)
        return;
    _deviceAskedAt = clock.askedAt;
    const auto played = static_cast<double>(clock.frames + clock.serverSilentFrames);
    _device.observe(secondsSince(clock.askedAt), -1, played / sampleRate);
}

double SenderClock::follow()
{
    double uncertainty = 0;
    const double rate = senderRate(uncertainty);
    const double speed = _follower.follow(rate, uncertainty);
    if (_follower.outOfRange())
        Utils::printErr(
            "vorbisDecoder: the sender's clock differs from the sound device's by more than 0.5 %;"
            " playing it as it comes\n");
    return speed;
}

double SenderClock::secondsSince(Sink::Clock::time_point t) const
{
    return std::chrono::duration<double>(t - _startedAt).count();
}

// Seconds of the sender's audio per second of the device's, and the
// standard error of that. Exactly 1 until one of the two clocks is known to
// differ from this machine's and the two then differ from each other beyond
// what both measurements leave open: a sender on the device's clock is
// played untouched whatever this machine's clock does.
double SenderClock::senderRate(double& uncertainty) const
{
    uncertainty = std::hypot(_estimator.uncertainty(), _device.uncertainty());
    if (!_estimator.established() && !_device.established())
        return 1.0;
    const double rate = _estimator.measuredRate() / _device.measuredRate();
    return std::fabs(rate - 1.0) > RateEstimator::enterSigmas * uncertainty ? rate : 1.0;
}

} // namespace Audio
