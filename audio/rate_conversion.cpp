#include "audio/rate_conversion.h"

#include "audio/format.h"
#include "utils/errors.h"

#include <algorithm>
#include <cstdio>

namespace Audio {

namespace {

// The lowest rate of a link that is played.
constexpr long minRate = 1000;
constexpr long maxRate = maxLinkRate;

} // namespace

RateConversion::RateConversion(Converter& converter) : _converter(converter)
{
}

void RateConversion::reset()
{
    _converter.stop();
    _rate = 0;
    _badRate = 0;
    _refusedRate = 0;
    _tail = false;
    _variable = false;
    _variableRefused = false;
}

bool RateConversion::use(long rate)
{
    if (rate < minRate || rate > maxRate || rate == _refusedRate) {
        refused(rate);
        return false;
    }
    _rate = rate;
    if (_converter.active() && static_cast<double>(rate) != _converter.inRate())
        _tail = true;
    else if (!_converter.active() && !start(rate)) {
        refused(rate);
        return false;
    }
    return true;
}

void RateConversion::refused(long rate)
{
    if (rate != _badRate)
        std::printf("vorbisDecoder: cannot play a sample rate of %ld Hz\n", rate);
    _badRate = rate;
}

void RateConversion::stopped(bool linkEnded)
{
    _tail = linkEnded && _converter.active();
    _rate = 0;
}

// A converter already running at a fixed ratio gives up its frames before
// the variable one takes over.
void RateConversion::follow(double speed, int frames)
{
    if (!_variable && !_variableRefused && speed != 1.0) {
        _variable = true;
        if (_converter.active())
            _tail = true;
        else
            start(_rate != 0 ? _rate : sampleRate);
    }
    if (_converter.variable())
        _converter.setSpeed(speed, static_cast<size_t>(frames));
}

// A link at the output's rate is copied untouched, unless the sender's
// clock is being followed. A variable converter that is refused leaves the
// run at a fixed one.
bool RateConversion::start(long rate)
{
    if (_variable && rate != 0) {
        if (tryStart(rate))
            return true;
        _variable = false;
        _variableRefused = true;
    }
    if (rate == 0 || rate == sampleRate) {
        _converter.stop();
        return true;
    }
    if (tryStart(rate))
        return true;
    _refusedRate = rate;
    return false;
}

bool RateConversion::tryStart(long rate)
{
    try {
        _converter.start(static_cast<double>(rate), _variable);
        return true;
    } catch (const Utils::AdError&) {
        _converter.stop();
        return false;
    }
}

int RateConversion::inputFor(int room) const
{
    if (!_converter.active())
        return room;
    return static_cast<int>(room * _converter.inRate() * _converter.speed() / sampleRate) + 1;
}

int RateConversion::flush(Sink& sink, int offset, int room, double speed)
{
    const size_t n =
        _converter.active() ? _converter.flush(sink.frameData(offset), static_cast<size_t>(room)) : 0;
    if (n > 0)
        return static_cast<int>(n);
    _tail = false;
    start(_rate);
    _converter.setSpeed(speed, 0);
    return 0;
}

int RateConversion::convert(float* const in[2], int frames, int& used, Sink& sink, int offset, int room)
{
    if (_rate != 0 && _rate == _refusedRate) {
        used = frames; // nothing can play them
        return 0;
    }
    if (!_converter.active()) {
        used = std::min(frames, room);
        sink.write(in, offset, used);
        return used;
    }
    size_t taken = 0;
    const auto written = static_cast<int>(_converter.process(
        in, static_cast<size_t>(frames), taken, sink.frameData(offset), static_cast<size_t>(room)));
    used = static_cast<int>(taken);
    if (written == 0 && used == 0)
        used = frames; // taken by neither side: never spin on it
    return written;
}

} // namespace Audio
