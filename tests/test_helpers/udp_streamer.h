#pragma once

#include "test_helpers/ogg_maker.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

namespace TestHelpers {

// Sends datagrams to 127.0.0.1:port from a thread of its own, paced like a
// live sender: each datagram leaves at its share (by bytes) of the stream's
// duration, `lead` ahead of real time, so the receiver never runs dry and
// its socket buffer never overflows.
class UdpStreamer {
public:
    struct Options {
        double seconds = 1.0; // duration of the audio the datagrams carry
        std::chrono::milliseconds lead{500};
        // A stall: nothing is sent for `pause` before datagram pauseBefore.
        std::size_t pauseBefore = static_cast<std::size_t>(-1);
        std::chrono::milliseconds pause{0};
    };

    UdpStreamer(int port, std::vector<Bytes> datagrams, Options options);
    ~UdpStreamer(); // stops sending and joins
    UdpStreamer(const UdpStreamer&) = delete;
    UdpStreamer& operator=(const UdpStreamer&) = delete;

    bool waitDone(std::chrono::milliseconds timeout) const;
    std::chrono::steady_clock::time_point firstSent() const { return _firstSent; }

private:
    void run();

    int _fd = -1;
    int _port;
    std::vector<Bytes> _datagrams;
    Options _options;
    std::atomic<bool> _stop{false};
    std::atomic<bool> _done{false};
    std::chrono::steady_clock::time_point _firstSent{};
    std::thread _thread;
};

// Sends the datagrams at once, in order.
void sendDatagrams(int port, const std::vector<Bytes>& datagrams);

} // namespace TestHelpers
