#pragma once

#include <ogg/ogg.h>

#include <array>
#include <cstdint>
#include <vector>

namespace Wrappers {

// libogg's packet state for each logical stream whose headers are being
// read, so that a stream's setup header can be looked at whole before the
// decoding library sees it. Holds the last few streams begun; a new one
// takes the place of the oldest. Used by the decoding thread only.
class HeaderStreams {
public:
    static constexpr int maxStreams = 8;

    struct Stream {
        ogg_stream_state state{};
        uint32_t serial = 0;
        int packets = 0;
        bool used = false;
        bool refused = false;
        bool done = false; // past its setup header
    };

    HeaderStreams();
    ~HeaderStreams();
    HeaderStreams(const HeaderStreams&) = delete;
    HeaderStreams& operator=(const HeaderStreams&) = delete;

    // Forgets every stream.
    void reset();
    Stream* find(uint32_t serial);
    // A stream starting afresh with its first page.
    Stream& begin(uint32_t serial);
    // A copy of a page of at most `length` bytes for libogg, which takes
    // its pages as writable.
    ogg_page copy(const unsigned char* page, std::size_t headerLength, std::size_t length);

private:
    std::array<Stream, maxStreams> _all;
    int _next = 0;
    std::vector<unsigned char> _page;
};

} // namespace Wrappers
