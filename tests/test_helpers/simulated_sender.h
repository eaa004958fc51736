#pragma once

#include <cstdint>
#include <vector>

namespace TestHelpers {

// When the pages of a sender reach the receiver, by the device's clock, for
// tests in simulated time: pages of varying length, sent the way senders
// really send them, over a network that delays, loses and stalls.
struct SimulatedSender {
    enum class Pacing {
        AtStart, // each page `lead` before its audio starts, as our own sender
        AtEnd,   // each page when its audio is complete, as a live encoder
        Bursts,  // what is complete every `burstSeconds`, at once
    };
    Pacing pacing = Pacing::AtEnd;
    double rate = 1.0; // seconds of the sender's audio per device second
    double lead = 1.0;
    double burstSeconds = 1.0;
    double jitterSeconds = 0.010; // at most, each page on its own
    double loss = 0;              // share of pages lost
    double stallAt = -1;          // the sender holds everything from then ...
    double stallSeconds = 0;      // ... for this long, then sends what it held
    uint32_t seed = 1;

    struct Arrival {
        double device;     // seconds
        double mediaStart; // -1 when the page before was lost
        double mediaEnd;
    };
    // The pages of `seconds` of audio that arrive, in the order they arrive.
    std::vector<Arrival> arrivals(double seconds) const;
};

} // namespace TestHelpers
