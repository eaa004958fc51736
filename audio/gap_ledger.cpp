#include "audio/gap_ledger.h"

#include <algorithm>

namespace Audio {

void GapLedger::played(int64_t frames)
{
    if (frames <= 0)
        return;
    if (_late + _lost > 0) {
        ++_totals.gaps;
        _totals.lateFrames += _late;
        _totals.lostFrames += _lost;
    }
    _late = 0;
    _lost = 0;
    _totals.played += frames;
}

void GapLedger::starved(int64_t frames)
{
    if (frames > 0 && _totals.played > 0) // before the stream's first frame: its start
        _late += frames;
}

int64_t GapLedger::missing(int64_t frames)
{
    if (frames <= 0)
        return 0;
    const int64_t already = std::min(frames, _late);
    _late -= already;
    _lost += frames;
    return frames - already;
}

void GapLedger::serverSilence(int64_t frames, long gaps)
{
    if (_totals.played == 0)
        return; // before the stream's first frame: its start
    _totals.lateFrames += frames;
    _totals.gaps += gaps;
}

} // namespace Audio
