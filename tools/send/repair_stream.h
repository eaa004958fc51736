#pragma once

#include "send/ogg_page_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Send {

// The datagrams that carry a Vorbis link's repair pieces beside it
// (Audio::RepairPiece): no Ogg pages, so that a reader that knows nothing
// of them skips their bytes as it skips any between pages. Each goes out as
// an OggPage of its own, of a serial that is never the link's (the link's
// with a fixed pattern flipped), so that the session paces and sends it as
// a page of another stream.
class RepairStream {
public:
    static constexpr uint32_t serialPattern = 0x52455052;

    explicit RepairStream(uint32_t protectedSerial);

    // The header alone, which tells that the link carries repair data. It
    // must follow the link's own first page.
    OggPage firstPage() const;
    // One repair packet (RepairPieces::packet).
    OggPage piecePage(const std::vector<unsigned char>& packet) const;

    // The longest page of the link whose repair piece, with its header,
    // still fits a datagram of datagramBytes.
    static std::size_t largestProtectedPage(std::size_t datagramBytes);

private:
    OggPage datagramOf(const unsigned char* packet, std::size_t size) const;

    uint32_t _protected;
};

} // namespace Send
