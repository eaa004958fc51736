#pragma once

#include <cstddef>
#include <cstdint>

namespace Audio {

// One piece of repair data for a group of consecutive pages of a Vorbis
// stream, in a datagram of its own between the stream's pages. It is no
// Ogg page: a reader that knows nothing of it skips its bytes as it skips
// any bytes between pages. (A logical stream of its own beside the link
// would stop a reader that waits to time every stream of a link, as
// GStreamer's Ogg demuxer does.) The group's
// pages, each counted as `length` bytes with zeros after its end, and its
// repair pieces are a Reed-Solomon code: any `sources` of the
// `sources + repairs` pieces give back the rest. A rebuilt page's own
// header tells where its zeros begin.
//
// Layout, little-endian: "VRepair", version 2; the protected stream's
// serial (u32); the sequence number of the group's first page (u32);
// sources, repairs, this piece's index (u8 each), one zero byte; length
// (u16); then the piece, each byte XOR `mask`: the piece of a group of one
// page is that page, which would otherwise show a reader a page twice. A
// datagram of the header alone, with sources, repairs and length 0, tells
// that the link carries repair data.
struct RepairPiece {
    static constexpr std::size_t headerBytes = 22;
    static constexpr int maxSources = 64;
    static constexpr int maxRepairs = 32;
    // The longest page a group may hold: a sender's pages fit a datagram.
    static constexpr std::size_t maxLength = 4096;
    static constexpr unsigned char mask = 0xa5;

    uint32_t serial = 0; // of the stream it protects
    uint32_t first = 0;  // sequence number of the group's first page
    int sources = 0;     // 0: the header alone, no piece
    int repairs = 0;
    int index = 0; // of this piece among the repairs
    std::size_t length = 0;
    const unsigned char* data = nullptr; // the piece, `length` bytes

    // False when the datagram is no repair piece or its fields do not hold
    // together; data then points into it, masked.
    static bool read(const unsigned char* datagram, std::size_t bytes, RepairPiece& piece);
    // Masks a piece's bytes, or takes the mask off.
    static void applyMask(unsigned char* bytes, std::size_t n);
    // The header of this piece into out (headerBytes).
    void writeHeader(unsigned char* out) const;
};

} // namespace Audio
