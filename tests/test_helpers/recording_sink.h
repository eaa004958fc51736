#pragma once

#include "audio/sink.h"

#include <cstddef>
#include <vector>

namespace TestHelpers {

// A sink that keeps what the decoder hands over instead of playing it: each
// buffer is appended to recording() at trigger(), and the device's clock
// moves on by one buffer, its requests dated by it. No time passes:
// `meanwhile` is called with a moment already past, unless lendTime() says
// otherwise. Starving the device (a late buffer) is the test's to say.
class RecordingSink : public Audio::Sink {
public:
    // keep false: only the clock moves (for long runs, the fuzzer's).
    explicit RecordingSink(int framesPerBuffer = 8192, bool keep = true);

    int bufSize() const override { return _frames; }
    float* frameData(int offset) override;
    void trigger(const Meanwhile& meanwhile = {}) override;
    DeviceClock deviceClock() const override { return _clock; }

    // `meanwhile` may use `time` from now on, so that the decoder takes
    // datagrams while the device would play (for the fuzzer, whose memory
    // transport never waits).
    void lendTime(Clock::duration time) { _lent = time; }
    // The device played `frames` of silence for want of a buffer before
    // the next one; they are in the recording too.
    void starve(int frames);
    // Interleaved stereo, every buffer handed over and every silence starved.
    const std::vector<float>& recording() const { return _recording; }
    int triggers() const { return _triggers; }

private:
    void advance(int frames);

    int _frames;
    bool _keep;
    std::vector<float> _buffer;
    std::vector<float> _recording;
    Clock::time_point _start;
    DeviceClock _clock;
    int _triggers = 0;
    Clock::duration _lent{};
};

} // namespace TestHelpers
