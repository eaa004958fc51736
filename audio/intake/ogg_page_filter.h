#pragma once

#include <cstddef>
#include <cstdint>

namespace Audio {

// Decides which Ogg pages reach the decoding library, so that nothing a
// stranger or a broken sender slips into the stream can take it over or
// exhaust memory:
// - pages of the logical streams that the current link began with pass;
//   the first page of another stream starts the next link at once (the
//   next link of a chain, or an encoder that restarted without ending its
//   stream: datagrams come from one sender only), except while the current
//   link has had first pages only, when it is one more stream of that link;
// - a packet that keeps growing past maxPacketBytes, far beyond any real
//   Vorbis packet, is refused: its pages are dropped up to the next page
//   that starts a fresh packet.
// Used by the decoding thread only.
class OggPageFilter {
public:
    static constexpr std::size_t maxPacketBytes = std::size_t{1} << 20;
    // Logical streams followed in one link; a first page beyond them is
    // refused.
    static constexpr int maxStreams = 8;

    void reset();
    // header and its length as the page has them; a checked page.
    bool accept(const unsigned char* header, std::size_t headerLength, std::size_t bodyLength);
    // Every stream of the current link has sent its last page.
    bool linkEnded() const { return _count > 0 && _ended == _count; }
    unsigned long dropped() const { return _dropped; }

private:
    struct Stream {
        uint32_t serial;
        std::size_t unfinished; // bytes of the packet still open at the last page
        bool refusing;          // dropping the rest of an overlong packet
        bool ended;
    };

    Stream* find(uint32_t serial);
    bool startsLink(uint32_t serial);
    static bool withinBounds(Stream& s, const unsigned char* header);

    Stream _streams[maxStreams] = {};
    int _count = 0;
    int _ended = 0;
    bool _headersOnly = false; // no page but first pages in this link yet
    unsigned long _dropped = 0;
};

} // namespace Audio
