#pragma once

#include "test_helpers/loopback.h"

#include <atomic>
#include <cstddef>
#include <thread>

namespace Bench {

// A network between a sender and the receiver on the fixed ports that
// loses a share of the stream's datagrams at random, the same ones for
// the same seed. A controller connects to controlPort() instead of 8888;
// the relay passes the control connection through and names its own UDP
// port in the receiver's "udpReady 6666", so that the sender sends the
// stream to it, and forwards each datagram it keeps to 6666.
class DroppingRelay {
public:
    DroppingRelay(double loss, unsigned seed);
    ~DroppingRelay(); // stops and joins
    DroppingRelay(const DroppingRelay&) = delete;
    DroppingRelay& operator=(const DroppingRelay&) = delete;

    int controlPort() const { return _listener.port(); }
    int streamPort() const { return _stream.port(); }
    std::size_t datagrams() const { return _datagrams; }
    std::size_t dropped() const { return _dropped; }

private:
    void run(double loss, unsigned seed);
    void forwardDatagram(const TestHelpers::LoopbackSocket& out, bool keep);

    TestHelpers::LoopbackSocket _listener{TestHelpers::LoopbackSocket::Kind::Tcp};
    TestHelpers::LoopbackSocket _stream{TestHelpers::LoopbackSocket::Kind::Udp};
    std::atomic<bool> _stop{false};
    std::atomic<std::size_t> _datagrams{0};
    std::atomic<std::size_t> _dropped{0};
    std::thread _thread;
};

} // namespace Bench
