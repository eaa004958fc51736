#include "test_helpers/recording_sink.h"

#include <cstddef>

namespace TestHelpers {

RecordingSink::RecordingSink(int framesPerBuffer, bool keep)
    : _frames(framesPerBuffer), _keep(keep), _buffer(static_cast<std::size_t>(framesPerBuffer) * 2, 0.0f)
{
    _clock.askedAt = Clock::now();
}

float* RecordingSink::frameData(int offset)
{
    return _buffer.data() + std::ptrdiff_t{2} * offset;
}

void RecordingSink::trigger(const Meanwhile& meanwhile)
{
    if (_keep)
        _recording.insert(_recording.end(), _buffer.begin(), _buffer.end());
    _clock.frames += _frames;
    _clock.askedAt = Clock::now();
    ++_triggers;
    if (meanwhile)
        meanwhile(_clock.askedAt);
}

void RecordingSink::starve(int frames)
{
    if (_keep)
        _recording.insert(_recording.end(), static_cast<std::size_t>(frames) * 2, 0.0f);
    _clock.frames += frames;
    _clock.starvedFrames += frames;
}

} // namespace TestHelpers
