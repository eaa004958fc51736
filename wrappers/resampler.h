#pragma once

#include "audio/converter.h"
#include "audio/format.h"

#include <cstddef>

struct soxr;

namespace Wrappers {

// Converts stereo from a link's sample rate to the output's 44100 Hz while
// the link is decoded, over libsoxr: split channels in, interleaved frames
// out, so the result goes straight into the output's buffer. It takes only
// the input it needs for the room it is given, so nothing piles up inside.
// A variable one also plays slightly faster or slower than the rates say,
// to follow a sender whose clock differs from the sound device's.
// Used by the decoding thread only.
class Resampler : public Audio::Converter {
public:
    static constexpr double outputRate = Audio::sampleRate;
    // How far from the rates a variable resampler may play.
    static constexpr double maxSpeedChange = Audio::maxSpeedChange;

    Resampler() = default;
    ~Resampler() override;
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Ready for a fresh signal at inRate, at speed 1. Allocates only when
    // the rate or the kind changes. Prints the library's reason and throws
    // Utils::AdError when it refuses.
    void start(double inRate, bool variable = false) override;
    // A variable resampler moves smoothly to consuming `speed` times its
    // input rate per output second over the next `frames` output frames.
    void setSpeed(double speed, size_t frames) override;
    // Releases the library's state; active() is false afterwards.
    void stop() override;
    bool active() const override { return _soxr != nullptr; }
    double inRate() const override { return _inRate; }
    bool variable() const override { return _variable; }
    double speed() const override { return _speed; }
    // Output frames the library holds back (its filter delay and what it
    // has not given out yet).
    double delayFrames() const;

    // Consumes up to `frames` frames of in[0] and in[1] (the count taken
    // goes to `used`) and writes at most `room` interleaved frames to out;
    // returns the frames written.
    size_t process(const float* const in[2], size_t frames, size_t& used, float* out, size_t room) override;
    // The link has ended: writes at most `room` of the frames still held
    // back; returns the frames written, 0 once nothing is left.
    size_t flush(float* out, size_t room) override;

private:
    soxr* _soxr = nullptr;
    double _inRate = 0;
    bool _variable = false;
    double _speed = 1.0;
};

} // namespace Wrappers
