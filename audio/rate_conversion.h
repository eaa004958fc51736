#pragma once

#include "audio/converter.h"
#include "audio/sink.h"

namespace Audio {

// The rate conversion between the decoded links and the output: which
// converter the frames go through and when it changes. A link at the
// output's rate is copied untouched, others are converted. A new rate
// takes effect once the converter has given up what it holds of the
// previous one (its tail). Once the speed leaves 1, the rest of the run
// goes through a variable converter, since switching back and forth would
// cost a seam each time. A rate that cannot be played (absurd, or refused
// by the converter) drops its frames, reported once. Used by the decoding
// thread only.
class RateConversion {
public:
    explicit RateConversion(Converter& converter);

    // A new run: nothing held, speed 1, nothing refused.
    void reset();
    // The rate of the frames to come; false when they cannot be played.
    bool use(long rate);
    // Decoding stopped: at the end of a link the converter's last frames
    // belong to it and are flushed next; after a stall they still have
    // their continuation coming.
    void stopped(bool linkEnded);
    // Follows the speed for the next `frames` output frames.
    void follow(double speed, int frames);

    // Input frames to decode for `room` output frames.
    int inputFor(int room) const;
    // The previous rate's last frames are still to be played.
    bool flushing() const { return _tail; }
    // Plays at most `room` of them into the sink from frame `offset` on;
    // once none are left, sets up the rate waiting at `speed` and returns 0.
    int flush(Sink& sink, int offset, int room, double speed);
    // Converts `frames` frames of in[0] and in[1] into at most `room`
    // frames of the sink from `offset` on; `used` tells how many of the
    // input were taken. Returns the frames written.
    int convert(float* const in[2], int frames, int& used, Sink& sink, int offset, int room);

private:
    bool start(long rate);
    bool tryStart(long rate);
    void refused(long rate);

    Converter& _converter;
    long _rate = 0;         // the rate of the frames to come
    long _badRate = 0;      // the rate last reported as unplayable
    long _refusedRate = 0;  // a rate the converter refused in this run
    bool _tail = false;     // the converter still holds the end of the previous rate's frames
    bool _variable = false; // the speed has left 1 in this run
    bool _variableRefused = false;
};

} // namespace Audio
