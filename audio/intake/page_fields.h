#pragma once

#include <cstddef>
#include <cstdint>

namespace Audio {

// The fixed layout of an Ogg page header, read without the Ogg library.
class PageFields {
public:
    static constexpr std::size_t fixedLength = 27;   // up to the lacing values
    static constexpr std::size_t maxPage = 65307;    // 27 + 255 lacing values + 255 * 255
    static constexpr unsigned char firstPage = 0x02; // flags: begins a logical stream

    // p holds at least 4 bytes.
    static bool isCapture(const unsigned char* p);
    // h holds at least fixedLength bytes.
    static std::size_t headerLength(const unsigned char* h);
    // h holds the whole header.
    static std::size_t bodyLength(const unsigned char* h);
    static uint32_t serial(const unsigned char* h);
    static uint32_t sequence(const unsigned char* h);
    static bool continued(const unsigned char* h); // begins inside the packet of the page before
    static bool first(const unsigned char* h);
    static bool last(const unsigned char* h); // ends its logical stream
    static int64_t granule(const unsigned char* h);
};

} // namespace Audio
