#include "test_helpers/recording_sink.h"

#include "audio/format.h"

#include <chrono>
#include <cstddef>

namespace TestHelpers {

RecordingSink::RecordingSink(int framesPerBuffer, bool keep)
    : _frames(framesPerBuffer)
    , _keep(keep)
    , _buffer(static_cast<std::size_t>(framesPerBuffer) * 2, 0.0f)
    , _start(Clock::now())
{
    _clock.askedAt = _start;
}

// The device asks by its own clock, which runs as the frames it took say.
void RecordingSink::advance(int frames)
{
    _clock.frames += frames;
    _clock.askedAt = _start
                     + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                         static_cast<double>(_clock.frames) / Audio::sampleRate));
}

float* RecordingSink::frameData(int offset)
{
    return _buffer.data() + std::ptrdiff_t{2} * offset;
}

void RecordingSink::trigger(const Meanwhile& meanwhile)
{
    if (_keep)
        _recording.insert(_recording.end(), _buffer.begin(), _buffer.end());
    advance(_frames);
    ++_triggers;
    if (meanwhile)
        meanwhile(Clock::now() + _lent);
}

void RecordingSink::starve(int frames)
{
    if (_keep)
        _recording.insert(_recording.end(), static_cast<std::size_t>(frames) * 2, 0.0f);
    advance(frames);
    _clock.starvedFrames += frames;
}

} // namespace TestHelpers
