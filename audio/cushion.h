#pragma once

namespace Audio {

// How much of the sender's audio to hold ahead of the device once data has
// come late. Whatever a gap gave the stream is kept (nothing works it away
// again); and the first gap is made as long as the sender's pacing needs,
// so that one gap settles a sender with no lead instead of one after
// another: the latest a page has come, plus the buffer the decoder fills
// ahead of the device, with a margin. Used by the decoding thread only.
class Cushion {
public:
    // periodSeconds: the duration of one output buffer.
    explicit Cushion(double periodSeconds) : _period(periodSeconds) {}

    void reset() { _wanted = 0; }
    // After data came late: the seconds of audio to hold before playing
    // on, given how late pages have come (RateEstimator::lateness()). It
    // never shrinks within a run.
    double afterGap(double lateness);
    double wanted() const { return _wanted; }

private:
    double _period;
    double _wanted = 0;
};

} // namespace Audio
