#include "send/pacing_schedule.h"

#include <algorithm>

namespace Send {

PacingSchedule::PacingSchedule(double leadSeconds) : _lead(leadSeconds)
{
}

double PacingSchedule::due(const OggPage& page)
{
    if (page.bos && page.sampleRate > 0 && !page.truncated) {
        _linkStart = playEnd();
        _rate = page.sampleRate;
        _serial = page.serial;
        _granule = 0;
        _granuleBase = 0;
    }
    if (page.joined)
        _joining = true;
    // Never earlier than the page before: a granule that goes back in a
    // damaged stream must not reorder the sending.
    double due = std::max(_lastDue, playEnd() - _lead);
    _lastDue = due;
    if (_rate > 0 && !page.truncated && page.serial == _serial && page.granule > _granule) {
        if (_joining)
            _granuleBase = page.granule;
        _joining = false;
        _granule = page.granule;
    }
    return due;
}

double PacingSchedule::playEnd() const
{
    if (_rate <= 0)
        return _linkStart;
    return _linkStart + static_cast<double>(_granule - _granuleBase) / static_cast<double>(_rate);
}

void PacingSchedule::reset()
{
    _linkStart = 0;
    _rate = 0;
    _serial = 0;
    _granule = 0;
    _granuleBase = 0;
    _joining = false;
    _lastDue = 0;
}

} // namespace Send
