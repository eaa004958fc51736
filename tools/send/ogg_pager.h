#pragma once

#include "send/ogg_page_reader.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace Send {

// Lays packets out on Ogg pages of at most maxPageBytes, header included, so
// that every page fits in one datagram and a lost datagram loses no more
// than the pages it carries. A packet too large for one page continues on
// the next ones; a page on which no packet ends carries granule -1.
class OggPager {
public:
    // rate and channels are those of the link's identification header,
    // given to the BOS page for the pacing.
    OggPager(uint32_t serial, long rate, int channels, size_t maxPageBytes);

    void add(const unsigned char* data, size_t size, int64_t granule, bool eos);
    // Ends the page being filled, so that what was added leaves now.
    void flush();
    // A finished page, oldest first; false when none waits.
    bool pageOut(OggPage& page);

private:
    void addSegment(const unsigned char* data, size_t size, bool continues);
    bool fits(size_t size) const;
    void endPage();

    uint32_t _serial;
    long _rate;
    int _channels;
    size_t _maxPageBytes;
    uint32_t _sequence = 0;
    bool _bos = true;
    // The page being filled.
    std::vector<unsigned char> _lacing;
    std::vector<unsigned char> _body;
    int64_t _granule = -1;
    bool _continued = false; // its first segment continues the previous page's packet
    bool _eos = false;
    std::deque<OggPage> _ready;
};

} // namespace Send
