#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <string>

namespace TestHelpers {

// 127.0.0.1:port, for bind, connect and sendto.
sockaddr_in loopbackAddress(int port);

// A TCP or UDP socket bound on the loopback interface, closed by the
// destructor: the other end of a connection under test, a fake peer, or a
// port held as another program would hold it.
class LoopbackSocket {
public:
    enum class Kind { Tcp, Udp };

    // Binds 127.0.0.1:port; port 0 lets the system pick a free one. With
    // anyAddress the socket binds every interface instead, as a program
    // taking the port for itself does. Whether it is bound says bound().
    explicit LoopbackSocket(Kind kind, int port = 0, bool anyAddress = false);
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    bool bound() const { return _port > 0; }
    int fd() const { return _fd; }
    int port() const { return _port; } // -1 when not bound

    // TCP: starts listening; false on error.
    bool listen(int backlog = 4);
    // UDP: one datagram to 127.0.0.1:port; whether all of it left.
    bool sendTo(int port, const void* data, std::size_t size) const;
    bool sendTo(int port, const std::string& bytes) const { return sendTo(port, bytes.data(), bytes.size()); }

private:
    int _fd = -1;
    int _port = -1;
};

// A port that was free a moment ago (the system's choice for port 0), for
// tests of classes that take a port. udp picks a UDP port, else TCP.
int freePort(bool udp = false);

// Whether a program could take the port for itself (every interface) now.
bool portFree(int port, bool udp = true);

} // namespace TestHelpers
