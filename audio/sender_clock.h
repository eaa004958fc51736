#pragma once

#include "audio/clock_follower.h"
#include "audio/cushion.h"
#include "audio/intake/page_arrival.h"
#include "audio/rate_estimator.h"
#include "audio/sink.h"

#include <cstdint>

namespace Audio {

// Following the sender's clock, in one place: both the sender's pages and
// the device's requests are timed by this machine's clock from the opening
// on (RateEstimator each), the speed follows the sender's rate against the
// device's (ClockFollower), and after late data the cushion to hold comes
// from how late pages come (Cushion). Used by the decoding thread only.
class SenderClock {
public:
    SenderClock();

    // A new run, whose buffers last `periodSeconds`, timed from `start`.
    void reset(double periodSeconds, Sink::Clock::time_point start);
    // A page of the link being decoded, whose rate is `rate`, arrived.
    void arrived(const PageArrival& page, double rate);
    // Once per buffer handed over: what the device has asked for.
    void deviceAsked(const Sink::DeviceClock& clock);
    // The speed for the next buffer. Says once per run when the sender's
    // clock is beyond the range that can be followed.
    double follow();
    double speed() const { return _follower.speed(); }
    double slowest() const { return _follower.slowest(); }
    double fastest() const { return _follower.fastest(); }
    // Data came late and the device played silence: the seconds of the
    // stream to hold before playing on, so that this gap is the last.
    double cushionAfterGap() { return _cushion.afterGap(_estimator.lateness()); }

private:
    double secondsSince(Sink::Clock::time_point t) const;
    double senderRate(double& uncertainty) const;

    Sink::Clock::time_point _startedAt;
    Sink::Clock::time_point _deviceAskedAt;
    RateEstimator _estimator;
    RateEstimator _device;
    ClockFollower _follower;
    Cushion _cushion;
    uint32_t _estimatedSerial = 0; // the link the estimator's points belong to
};

} // namespace Audio
