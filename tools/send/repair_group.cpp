#include "send/repair_group.h"

#include "audio/intake/page_fields.h"

#include <algorithm>

namespace Send {

RepairGroup::RepairGroup(double spanSeconds) : _span(spanSeconds), _pages(maxPages), _pointers(maxPages)
{
}

void RepairGroup::startLink(long rate)
{
    clear();
    _spanFrames = static_cast<int64_t>(_span * static_cast<double>(rate));
    _linkGranule = 0;
}

bool RepairGroup::follows(const OggPage& page) const
{
    return _count == 0 || (!page.joined && Audio::PageFields::sequence(page.bytes.data()) == _next);
}

void RepairGroup::add(const OggPage& page)
{
    if (page.joined)
        _linkGranule = -1; // the audio skipped: where it now is shows at the next granule
    if (_count == 0) {
        _first = Audio::PageFields::sequence(page.bytes.data());
        _base = _linkGranule;
    }
    _pages[static_cast<size_t>(_count++)] = page.bytes;
    _next = Audio::PageFields::sequence(page.bytes.data()) + 1;
    _longest = std::max(_longest, page.bytes.size());
    if (page.granule < 0)
        return;
    if (_base < 0)
        _base = page.granule;
    _linkGranule = page.granule;
}

bool RepairGroup::full() const
{
    return _count >= maxPages || (_spanFrames > 0 && _base >= 0 && _linkGranule - _base >= _spanFrames);
}

void RepairGroup::clear()
{
    _count = 0;
    _longest = 0;
    _base = -1;
}

unsigned char* const* RepairGroup::padded()
{
    for (int i = 0; i < _count; ++i) {
        _pages[static_cast<size_t>(i)].resize(_longest, 0);
        _pointers[static_cast<size_t>(i)] = _pages[static_cast<size_t>(i)].data();
    }
    return _pointers.data();
}

} // namespace Send
