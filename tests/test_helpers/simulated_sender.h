#pragma once

#include "test_helpers/network_faults.h"

#include <cstdint>
#include <vector>

namespace TestHelpers {

// When the pages of a sender reach the receiver, by the device's clock, for
// tests in simulated time: pages of varying length, sent the way senders
// really send them, in datagrams, over a network that delays, loses and stalls.
struct SimulatedSender {
    enum class Pacing {
        AtStart, // each page `lead` before its audio starts, as our own sender
        AtEnd,   // each page when its audio is complete, as a live encoder
        Bursts,  // what is complete every `burstSeconds`, at once
        Spread,  // each byte `lead` before its place between its page's first and last sample
    };
    Pacing pacing = Pacing::AtEnd;
    double rate = 1.0; // seconds of the sender's audio per device second
    double lead = 1.0;
    double burstSeconds = 1.0;
    size_t datagramBytes = 0;      // cut anywhere; 0: a page per datagram, the headers in one
    double bytesPerSecond = 16000; // as music at 128 kbit/s
    double jitterSeconds = 0.005;  // at most, each datagram on its own
    double stallAt = -1;           // the sender holds everything from then ...
    double stallSeconds = 0;       // ... for this long, then sends what it held
    double heldSeconds = 0;        // with more, the network delivers what came every so long, at once
    NetworkFaults faults;
    uint32_t seed = 1;

    struct Datagram {
        double at; // seconds
        Bytes bytes;
    };
    // The datagrams of `seconds` of audio that arrive, in the order they arrive.
    std::vector<Datagram> datagrams(double seconds) const;
};

} // namespace TestHelpers
