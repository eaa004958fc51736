#pragma once

#include "test_helpers/ogg_maker.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

namespace TestHelpers {

// Sends datagrams to 127.0.0.1:port from a thread of its own, paced like a
// live sender: each datagram leaves `lead` ahead of the moment the sound of
// its Ogg page is due (the end of the previous page's granule position), so
// the receiver never runs dry and its socket buffer holds little; or, as a
// live encoder sends, when the last sample of the page that holds its last
// byte is due. Bytes that are not Ogg pages leave at once. A stream that
// starts anew (a first page after audio) goes on at the time the previous
// one reached. Between sender and receiver the datagrams may be lost,
// duplicated and swapped with their neighbour.
class UdpStreamer {
public:
    struct Options {
        std::chrono::milliseconds lead{500};
        bool atEnd = false; // each page when it is complete, with no lead
        long rate = 44100;  // sample rate behind the granule positions
        // A stall: nothing is sent for `pause` before datagram pauseBefore.
        std::size_t pauseBefore = static_cast<std::size_t>(-1);
        std::chrono::milliseconds pause{0};
        // The network: shares of datagrams lost, sent twice, and arriving
        // after the one that followed them; the same seed, the same faults.
        double loss = 0;
        double duplicate = 0;
        double swap = 0;
        unsigned seed = 1;
        // The network drops everything due from dropAt on for dropSeconds.
        double dropAt = -1;
        double dropSeconds = 0;
        // The sender holds what is due from holdAt on for holdSeconds, then
        // sends it at once and goes on on time.
        double holdAt = -1;
        double holdSeconds = 0;
        // The first page of audio, and all after it, leave this much later
        // than the header pages.
        double audioLater = 0;
    };

    UdpStreamer(int port, std::vector<Bytes> datagrams, Options options);
    ~UdpStreamer(); // stops sending and joins
    UdpStreamer(const UdpStreamer&) = delete;
    UdpStreamer& operator=(const UdpStreamer&) = delete;

    bool done() const { return _done; }
    bool waitDone(std::chrono::milliseconds timeout) const;
    int failures() const { return _failures; } // datagrams the socket refused
    // The datagrams the network lost, by index.
    const std::vector<std::size_t>& lost() const { return _lost; }

private:
    struct Slot {
        std::size_t datagram;
        double due; // seconds into the stream
    };

    void schedule(const std::vector<double>& due);
    void run();

    int _port;
    std::vector<Bytes> _datagrams;
    std::vector<Slot> _slots;
    std::vector<std::size_t> _lost;
    Options _options;
    std::atomic<bool> _stop{false};
    std::atomic<bool> _done{false};
    std::atomic<int> _failures{0};
    std::thread _thread;
};

// For every datagram, the stream time (s) at which the sound of the Ogg page
// holding its first byte starts: the end of the previous page's sound.
std::vector<double> soundTimes(const std::vector<Bytes>& datagrams, long rate);
// For every datagram, the stream time (s) at which the sound of the Ogg page
// holding its last byte ends.
std::vector<double> soundEndTimes(const std::vector<Bytes>& datagrams, long rate);

// Sends the datagrams at once, in order.
void sendDatagrams(int port, const std::vector<Bytes>& datagrams);

} // namespace TestHelpers
