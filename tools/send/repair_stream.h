#pragma once

#include "send/ogg_page_reader.h"
#include "send/ogg_pager.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Send {

// The logical Ogg stream that carries a Vorbis link's repair pieces, a
// packet to a page, beside the link: a reader that knows nothing of it
// passes over it as Ogg lets it pass over any stream it does not follow.
// Its serial is the link's with a fixed pattern flipped: never the link's
// own, and found from it without a table.
class RepairStream {
public:
    static constexpr uint32_t serialPattern = 0x52455052;

    explicit RepairStream(uint32_t protectedSerial);

    // A page of the header-only packet, granule 0; the stream's first
    // page the first time. That one must follow the link's own first
    // page, before any page that is not a first page.
    OggPage firstPage();
    // A page of one repair packet; the last one of the link ends the stream.
    OggPage piecePage(const std::vector<unsigned char>& packet, int64_t granule, bool last);

    // The longest page of the link whose repair page, padded like it and
    // with the piece's header, still fits a datagram of datagramBytes.
    static std::size_t largestProtectedPage(std::size_t datagramBytes);

private:
    OggPage pageOf(const unsigned char* packet, std::size_t size, int64_t granule, bool last);

    uint32_t _protected;
    OggPager _pager;
};

} // namespace Send
