#pragma once

#include "test_helpers/loopback.h"

#include <chrono>
#include <string>

namespace TestHelpers {

// A plain blocking-free loopback TCP client for tests. Everything it
// receives collects in a buffer; the read operations take from its front.
// Every wait has a deadline.
class TcpClient {
public:
    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    // Connects to 127.0.0.1:port, retrying until the deadline (the server
    // may not be listening yet). Returns whether it connected.
    bool connect(int port, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Sends all bytes (zero bytes included); false on any error.
    bool send(const std::string& bytes);
    // Waits until the peer's socket has taken every byte sent (none is left
    // unacknowledged), so that a burst is whole before the peer reads.
    bool waitDelivered(std::chrono::milliseconds timeout);
    // Closes the socket (also done by the destructor).
    void close();
    bool isOpen() const { return _fd >= 0; }
    int fd() const { return _fd; }

    // Waits until n bytes are buffered, then takes exactly n; at the
    // deadline (or when the peer closed) takes whatever is buffered.
    std::string readBytes(size_t n, std::chrono::milliseconds timeout);
    // Waits until the buffer contains substring, then takes everything up
    // to and including it; returns "" at the deadline and keeps the buffer.
    std::string readUntil(const std::string& substring, std::chrono::milliseconds timeout);
    // Collects for the whole period and takes everything (for checking that
    // nothing, or exactly something, arrives).
    std::string readFor(std::chrono::milliseconds period);
    // Waits until the peer has closed the connection (end of file or
    // reset); data arriving meanwhile stays buffered.
    bool waitClosed(std::chrono::milliseconds timeout);
    bool peerClosed() const { return _peerClosed; }

    const std::string& buffered() const { return _buffer; }

private:
    // Reads what arrives within the time left; false when nothing more can
    // come (peer closed, error, or no socket).
    bool fill(std::chrono::steady_clock::time_point deadline);

    int _fd = -1;
    bool _peerClosed = false;
    std::string _buffer;
};

} // namespace TestHelpers
