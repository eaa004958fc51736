#include "test_helpers/loopback.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestHelpers {

sockaddr_in loopbackAddress(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

LoopbackSocket::LoopbackSocket(Kind kind, int port, bool anyAddress)
    : _fd(::socket(AF_INET, (kind == Kind::Udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr = loopbackAddress(port);
    if (anyAddress)
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
    // As the receiver listens: a connection of an earlier run lingering
    // on the port does not hold it.
    const int on = 1;
    if (_fd >= 0 && anyAddress && kind == Kind::Tcp)
        ::setsockopt(_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t len = sizeof addr;
    if (_fd >= 0 && ::bind(_fd, reinterpret_cast<sockaddr*>(&addr), len) == 0
        && ::getsockname(_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        _port = ntohs(addr.sin_port);
}

LoopbackSocket::~LoopbackSocket()
{
    if (_fd >= 0)
        ::close(_fd);
}

bool LoopbackSocket::listen(int backlog)
{
    return ::listen(_fd, backlog) == 0;
}

bool LoopbackSocket::sendTo(int port, const void* data, std::size_t size) const
{
    const sockaddr_in to = loopbackAddress(port);
    return ::sendto(_fd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
           == static_cast<ssize_t>(size);
}

int freePort(bool udp)
{
    return LoopbackSocket(udp ? LoopbackSocket::Kind::Udp : LoopbackSocket::Kind::Tcp).port();
}

bool portFree(int port, bool udp)
{
    return LoopbackSocket(udp ? LoopbackSocket::Kind::Udp : LoopbackSocket::Kind::Tcp, port, true).bound();
}

} // namespace TestHelpers
