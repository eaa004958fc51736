#pragma once

namespace Utils {

// Decides how fast to play so that a sender whose clock differs from the
// sound device's neither runs the receiver dry nor piles audio up in it.
//
// It is told, once per output buffer, how much audio is waiting ahead of
// the device. That figure jumps with every page that arrives, so it is
// smoothed over a few seconds. Once playback has settled, the smoothed
// figure at that moment becomes the amount to keep, and the speed follows
// how far the smoothed figure has moved from it: exactly 1 inside a dead
// band, so a sender on the device's own clock is played untouched, and
// outside it in proportion to the distance beyond the band, up to the
// range. The speed changes only as fast as the smoothed figure does, and
// never by more than a small step per buffer.
//
// A sender that needs more than the range cannot be held: the waiting
// audio drifts on as it did without following, and outOfRange() says so
// once. Used by the decoding thread only.
class ClockFollower {
public:
    // Within ±0.5 % of the nominal rate.
    static constexpr double range = 0.005;

    // periodSeconds: the duration of one output buffer.
    explicit ClockFollower(double periodSeconds);

    // A new stream, or one that stalled: everything learnt is forgotten
    // and the speed is 1 again.
    void reset();
    // Once per output buffer that could be measured: the seconds of audio
    // waiting ahead of the device. Returns the speed for the next buffer.
    double observe(double waitingSeconds);
    // The speed to play at: source seconds consumed per device second.
    double speed() const { return _speed; }
    bool settled() const { return _settled; }
    double target() const { return _target; }
    double smoothed() const { return _smoothed; }
    // True once, the first time the sender has needed more than the range
    // for a while.
    bool outOfRange();

private:
    void settle(double waitingSeconds);
    void follow();
    double wantedSpeed() const;

    double _period;
    long _observed = 0; // observations since reset()
    bool _settled = false;
    double _smoothed = 0;
    double _target = 0;
    double _speed = 1.0;
    double _saturatedFor = 0; // seconds the range has not sufficed in a row
    bool _outOfRange = false;
    bool _outOfRangeTold = false;
};

} // namespace Utils
