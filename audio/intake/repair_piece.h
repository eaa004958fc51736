#pragma once

#include <cstddef>
#include <cstdint>

namespace Audio {

// One piece of repair data for a group of consecutive pages of a Vorbis
// stream: the packet of one page of a logical stream of its own, which a
// reader that knows nothing of it passes over as Ogg lets it. The group's
// pages, each counted as `length` bytes with zeros after its end, and its
// repair pieces are a Reed-Solomon code: any `sources` of the
// `sources + repairs` pieces give back the rest. A rebuilt page's own
// header tells where its zeros begin.
//
// Layout, little-endian: "VRepair", version 1; the protected stream's
// serial (u32); the sequence number of the group's first page (u32);
// sources, repairs, this piece's index (u8 each), one zero byte; length
// (u16); then the piece. The first packet of the repair stream, on its
// first page, is the header alone with sources, repairs and length 0.
struct RepairPiece {
    static constexpr std::size_t headerBytes = 22;
    static constexpr int maxSources = 64;
    static constexpr int maxRepairs = 32;
    // The longest page a group may hold: a sender's pages fit a datagram.
    static constexpr std::size_t maxLength = 4096;

    uint32_t serial = 0; // of the stream it protects
    uint32_t first = 0;  // sequence number of the group's first page
    int sources = 0;     // 0: the repair stream's first packet, no piece
    int repairs = 0;
    int index = 0; // of this piece among the repairs
    std::size_t length = 0;
    const unsigned char* data = nullptr; // the piece, `length` bytes

    // False when the packet is no repair piece or its fields do not hold
    // together; data then points into packet.
    static bool read(const unsigned char* packet, std::size_t bytes, RepairPiece& piece);
    // The header of this piece into out (headerBytes).
    void writeHeader(unsigned char* out) const;
};

} // namespace Audio
