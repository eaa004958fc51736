#pragma once

#include <chrono>
#include <cstdint>

namespace Audio {

// An Ogg page with a granule position, as it came off the socket. A sender
// sends each page when playing reaches its first sample, less a lead (or,
// a live encoder, once it is complete), so when it came against where its
// audio lies tells how far the sender's clock had got.
struct PageArrival {
    bool known = false;
    int64_t granule = 0; // where it ends
    int64_t start = -1;  // where it starts: the page before's granule; -1 when that page was not seen
    uint32_t serial = 0;
    long sequence = 0;                           // its page sequence number
    bool ends = false;                           // it ends its link
    std::chrono::steady_clock::time_point taken; // when it came off the socket
};

} // namespace Audio
