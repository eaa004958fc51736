#include "audio/intake/ogg_page_filter.h"

#include "audio/format.h"
#include "audio/intake/page_fields.h"

namespace Audio {

void OggPageFilter::reset()
{
    _count = 0;
    _ended = 0;
    _headersOnly = false;
}

bool OggPageFilter::accept(const unsigned char* header, std::size_t headerLength, std::size_t)
{
    if (headerLength < PageFields::fixedLength || headerLength < PageFields::headerLength(header)) {
        ++_dropped;
        return false;
    }
    // A granule position no stream reaches in a year is no stream's: a
    // position that far out would overflow what is reckoned from it.
    constexpr int64_t latestGranule = maxLinkRate * int64_t{366} * 24 * 3600;
    const int64_t granule = PageFields::granule(header);
    if (granule < -1 || granule > latestGranule) {
        ++_dropped;
        return false;
    }
    const uint32_t serial = PageFields::serial(header);
    const bool first = PageFields::first(header);
    if (first && (!find(serial) || linkEnded()) && !startsLink(serial)) {
        ++_dropped;
        return false;
    }
    Stream* s = find(serial);
    if (!s && _count == 0)
        return true; // no link yet: the library tells a stream joined midway
    if (!s || !withinBounds(*s, header)) {
        ++_dropped;
        return false;
    }
    if (!first)
        _headersOnly = false;
    if (PageFields::last(header) && !s->ended) {
        s->ended = true;
        ++_ended;
    }
    return true;
}

OggPageFilter::Stream* OggPageFilter::find(uint32_t serial)
{
    for (int i = 0; i < _count; ++i) {
        if (_streams[i].serial == serial)
            return &_streams[i];
    }
    return nullptr;
}

// A first page of a stream we do not follow: another stream of the link
// being opened while only first pages came so far, else the start of the
// next link. Only the run's own sender reaches here, so a new stream in the
// middle of one is its encoder starting again, never an intruder.
bool OggPageFilter::startsLink(uint32_t serial)
{
    if (_count == 0 || linkEnded() || !_headersOnly) {
        _count = 0;
        _ended = 0;
    } else if (_count == maxStreams) {
        return false;
    }
    _streams[_count++] = Stream{serial, 0, false, false};
    _headersOnly = true;
    return true;
}

// Follows the packet left open at the end of each page; refuses the pages
// of one that grows past maxPacketBytes until a page starts afresh.
bool OggPageFilter::withinBounds(Stream& s, const unsigned char* header)
{
    const bool continues = PageFields::continued(header);
    if (s.refusing && continues)
        return false;
    s.refusing = false;
    const std::size_t segments = PageFields::headerLength(header) - PageFields::fixedLength;
    const unsigned char* lacing = header + PageFields::fixedLength;
    std::size_t open = continues ? s.unfinished : 0;
    for (std::size_t i = 0; i < segments; ++i) {
        open += lacing[i];
        if (lacing[i] < 255)
            open = 0; // a packet ends here
    }
    if (open > maxPacketBytes) {
        s.refusing = true;
        s.unfinished = 0;
        return false;
    }
    s.unfinished = open;
    return true;
}

} // namespace Audio
