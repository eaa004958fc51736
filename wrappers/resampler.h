#pragma once

#include <cstddef>

struct soxr;

namespace Wrappers {

// Converts stereo from a link's sample rate to the output's 44100 Hz while
// the link is decoded, over libsoxr: split channels in, interleaved frames
// out, so the result goes straight into the output's buffer. It takes only
// the input it needs for the room it is given, so nothing piles up inside.
// Used by the decoding thread only.
class Resampler {
public:
    static constexpr double outputRate = 44100.0;

    Resampler() = default;
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Ready for a fresh signal at inRate. Allocates only when the rate
    // changes. Prints the library's reason and throws Utils::AdError when
    // it refuses.
    void start(double inRate);
    // Releases the library's state; active() is false afterwards.
    void stop();
    bool active() const { return _soxr != nullptr; }
    double inRate() const { return _inRate; }

    // Consumes up to `frames` frames of in[0] and in[1] (the count taken
    // goes to `used`) and writes at most `room` interleaved frames to out;
    // returns the frames written.
    size_t process(const float* const in[2], size_t frames, size_t& used, float* out, size_t room);
    // The link has ended: writes at most `room` of the frames still held
    // back; returns the frames written, 0 once nothing is left.
    size_t flush(float* out, size_t room);

private:
    soxr* _soxr = nullptr;
    double _inRate = 0;
};

} // namespace Wrappers
