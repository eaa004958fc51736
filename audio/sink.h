#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace Audio {

// Where the decoder's frames go: a buffer of bufSize() interleaved stereo
// frames at 44100 Hz, filled in place and handed to a device with
// trigger(). The real one is Wrappers::AudioIO; tests record instead.
// Used by the decoding thread.
class Sink {
public:
    using Clock = std::chrono::steady_clock;
    using Meanwhile = std::function<void(Clock::time_point)>;

    // What the device has played, by its own clock: the frames it asked
    // for since the stream started, of them those it played as silence
    // because no fresh buffer was there (after the first hand-over), when
    // it last asked, and the silence the sound server played between them
    // on its own, because what it was given reached it too late: the
    // device's clock ran on meanwhile without asking for those frames,
    // and in how many stretches.
    struct DeviceClock {
        int64_t frames = 0;
        int64_t starvedFrames = 0;
        Clock::time_point askedAt{};
        int64_t serverSilentFrames = 0;
        long serverGaps = 0;
    };

    virtual ~Sink() = default;

    virtual int bufSize() const = 0;
    // The interleaved frames of the buffer being filled, from frame offset
    // on; valid until the next trigger().
    virtual float* frameData(int offset) = 0;
    // Hands the filled buffer over and waits until the device asks again;
    // `meanwhile`, when given, may use the time until a little before then.
    virtual void trigger(const Meanwhile& meanwhile = {}) = 0;
    virtual DeviceClock deviceClock() const = 0;

    // Interleaves count frames of two channel arrays into the buffer from
    // frame offset on.
    void write(const float* const* channels, int offset, int count);
    void silence(int offset, int count);
};

} // namespace Audio
