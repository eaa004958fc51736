#pragma once

#include <cstddef>

namespace Audio {

// Converts stereo from a link's sample rate to the output's, split channels
// in and interleaved frames out, taking only the input it needs for the
// room it is given. A variable one also plays slightly faster or slower
// than the rates say. The real one is Wrappers::Resampler. Used by the
// decoding thread only.
class Converter {
public:
    virtual ~Converter() = default;

    // Ready for a fresh signal at inRate, at speed 1. Prints the reason and
    // throws Utils::AdError when it cannot convert from that rate.
    virtual void start(double inRate, bool variable) = 0;
    // A variable converter moves smoothly to consuming `speed` times its
    // input rate per output second over the next `frames` output frames.
    virtual void setSpeed(double speed, size_t frames) = 0;
    // active() is false afterwards.
    virtual void stop() = 0;
    virtual bool active() const = 0;
    virtual double inRate() const = 0;
    virtual bool variable() const = 0;
    virtual double speed() const = 0;

    // Consumes up to `frames` frames of in[0] and in[1] (the count taken
    // goes to `used`) and writes at most `room` interleaved frames to out;
    // returns the frames written.
    virtual size_t process(const float* const in[2], size_t frames, size_t& used, float* out,
                           size_t room) = 0;
    // The signal has ended: writes at most `room` of the frames still held
    // back; returns the frames written, 0 once nothing is left.
    virtual size_t flush(float* out, size_t room) = 0;
};

} // namespace Audio
