#include "wrappers/ogg_page_filter.h"

namespace Wrappers {

namespace {

// Fields of an Ogg page header.
constexpr unsigned char continued = 0x01;
constexpr unsigned char firstPage = 0x02;
constexpr unsigned char lastPage = 0x04;
constexpr std::size_t flagsAt = 5;
constexpr std::size_t serialAt = 14;
constexpr std::size_t segmentsAt = 26;
constexpr std::size_t lacingAt = 27;

uint32_t serialOf(const unsigned char* h)
{
    return uint32_t(h[serialAt]) | uint32_t(h[serialAt + 1]) << 8 | uint32_t(h[serialAt + 2]) << 16
           | uint32_t(h[serialAt + 3]) << 24;
}

} // namespace

void OggPageFilter::reset()
{
    _count = 0;
    _ended = 0;
    _headersOnly = false;
}

bool OggPageFilter::accept(const unsigned char* header, std::size_t headerLength, std::size_t)
{
    if (headerLength < lacingAt || headerLength < lacingAt + header[segmentsAt]) {
        ++_dropped;
        return false;
    }
    const uint32_t serial = serialOf(header);
    const bool first = header[flagsAt] & firstPage;
    if (first && (!find(serial) || linkEnded()) && !startsLink(serial)) {
        ++_dropped;
        return false;
    }
    Stream* s = find(serial);
    if (!s && _count == 0)
        return true; // no link yet: the library tells a stream joined midway
    if (!s || !withinBounds(*s, header, headerLength)) {
        ++_dropped;
        return false;
    }
    if (!first)
        _headersOnly = false;
    if ((header[flagsAt] & lastPage) && !s->ended) {
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
bool OggPageFilter::withinBounds(Stream& s, const unsigned char* header, std::size_t)
{
    const bool continues = header[flagsAt] & continued;
    if (s.refusing && continues)
        return false;
    s.refusing = false;
    const int segments = header[segmentsAt];
    const unsigned char* lacing = header + lacingAt;
    std::size_t open = continues ? s.unfinished : 0;
    for (int i = 0; i < segments; ++i) {
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

} // namespace Wrappers
