#include "audio/server_silence.h"

#include "audio/format.h"

#include <algorithm>
#include <cmath>

namespace Audio {

namespace {

// The requests of a second or so make a window.
constexpr int64_t windowFrames = sampleRate;
// A bound this much lower is a silence; the bound itself is steady to a
// millisecond or two, and a wake-up comes tens of milliseconds late at most.
constexpr double silenceSeconds = 0.040;
// After a silence a server refills its queue before it plays again, which
// lengthens the silence for a little while.
constexpr int settleWindows = 2;

} // namespace

void ServerSilence::restart()
{
    *this = ServerSilence();
}

ServerSilence::Found ServerSilence::asked(Clock::time_point now, int64_t frames)
{
    if (!_started) {
        _started = true;
        _origin = now;
        _windowFrom = frames;
        _windowLead = static_cast<double>(frames) / sampleRate;
        return {};
    }
    const double lead =
        static_cast<double>(frames) / sampleRate - std::chrono::duration<double>(now - _origin).count();
    _windowLead = std::max(_windowLead, lead);
    if (frames - _windowFrom >= windowFrames) {
        closeWindow();
        _windowFrom = frames;
        _windowLead = lead;
    }
    Found found;
    found.frames = static_cast<int64_t>(std::floor(_found * sampleRate));
    found.newGap = _newGap && found.frames > 0;
    _found -= static_cast<double>(found.frames) / sampleRate;
    _newGap = _newGap && found.frames == 0;
    return found;
}

// The bound is the highest of the last few windows' leads, so that a busy
// stretch that kept every request of a window late does not count. The
// first window is the queue filling before the server plays, whose lead
// says nothing of later ones.
void ServerSilence::closeWindow()
{
    if (++_windows == 1)
        return;
    if (_windows == 2) {
        _recent.fill(_windowLead);
        _bound = _windowLead;
        return;
    }
    _recent[static_cast<std::size_t>(_windows) % _recent.size()] = _windowLead;
    const double level = *std::max_element(_recent.begin(), _recent.end());
    const double fall = _bound - level;
    if (fall > silenceSeconds) {
        _found += fall;
        _newGap = _settling == 0;
        _settling = settleWindows;
    } else if (_settling > 0) {
        _found += std::max(0.0, fall);
        --_settling;
    }
    _bound = level;
}

} // namespace Audio
