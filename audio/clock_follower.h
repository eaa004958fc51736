#pragma once

#include "audio/format.h"

namespace Audio {

// Decides how fast to play, from the rate at which the sender's audio
// arrives by the device's clock (RateEstimator): source seconds consumed per
// device second. It follows a difference of rates and nothing else, so a
// page that came late, a lost one or a gap moves nothing: what waits ahead
// of the device stays as it is. The speed changes by a small step per
// buffer at most, within ±0.5 %.
//
// A sender that needs more than the range cannot be held: its audio drifts
// on, and outOfRange() says so once per run. Used by the decoding thread
// only.
class ClockFollower {
public:
    static constexpr double range = maxSpeedChange;

    // periodSeconds: the duration of one output buffer.
    explicit ClockFollower(double periodSeconds);

    // A new run: the speed is 1 again and the range used is forgotten.
    void reset();
    // Once per output buffer: the rate the sender's audio arrives at, 1 for
    // the device's own, and the standard error of the measurement, so that
    // an early, rough one is not taken for a sender beyond the range.
    // Returns the speed for the next buffer.
    double follow(double rate, double uncertainty = 0);
    double speed() const { return _speed; }
    // True once per run, the first time the range has not sufficed for a while.
    bool outOfRange();
    double slowest() const { return _slowest; }
    double fastest() const { return _fastest; }

private:
    double _period;
    double _speed = 1.0;
    double _slowest = 1.0;
    double _fastest = 1.0;
    double _saturatedFor = 0; // seconds the range has not sufficed in a row
    bool _outOfRange = false;
    bool _outOfRangeTold = false;
};

} // namespace Audio
