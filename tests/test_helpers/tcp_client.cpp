#include "test_helpers/tcp_client.h"

#include "test_helpers/wait.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace TestHelpers {

TcpClient::~TcpClient()
{
    close();
}

void TcpClient::close()
{
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
}

bool TcpClient::connect(int port, std::chrono::milliseconds timeout)
{
    close();
    _peerClosed = false;
    _buffer.clear();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const sockaddr_in addr = loopbackAddress(port);
    for (;;) {
        _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (_fd < 0)
            return false;
        if (::connect(_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
            return true;
        close();
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool TcpClient::send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        if (_fd < 0)
            return false;
        const ssize_t n = ::send(_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TcpClient::waitDelivered(std::chrono::milliseconds timeout)
{
    return waitFor(
        [this] {
            int unacknowledged = 0;
            return _fd >= 0 && ioctl(_fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
        },
        timeout);
}

bool TcpClient::fill(std::chrono::steady_clock::time_point deadline)
{
    if (_fd < 0 || _peerClosed)
        return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{_fd, POLLIN, 0};
    const int r = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (r < 0)
        return errno == EINTR;
    if (r == 0)
        return true;
    char buf[65536];
    const ssize_t n = recv(_fd, buf, sizeof buf, 0);
    if (n > 0) {
        _buffer.append(buf, static_cast<size_t>(n));
        return true;
    }
    if (n < 0 && errno == EINTR)
        return true;
    _peerClosed = true;
    return false;
}

std::string TcpClient::readBytes(size_t n, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (_buffer.size() < n && std::chrono::steady_clock::now() < deadline)
        if (!fill(deadline))
            break;
    const std::string taken = _buffer.substr(0, n);
    _buffer.erase(0, taken.size());
    return taken;
}

std::string TcpClient::readUntil(const std::string& substring, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t at = _buffer.find(substring);
        if (at != std::string::npos) {
            const std::string taken = _buffer.substr(0, at + substring.size());
            _buffer.erase(0, taken.size());
            return taken;
        }
        if (std::chrono::steady_clock::now() >= deadline || !fill(deadline))
            return "";
    }
}

std::string TcpClient::readFor(std::chrono::milliseconds period)
{
    const auto deadline = std::chrono::steady_clock::now() + period;
    while (std::chrono::steady_clock::now() < deadline)
        if (!fill(deadline))
            break;
    std::string taken;
    taken.swap(_buffer);
    return taken;
}

bool TcpClient::waitClosed(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!_peerClosed && std::chrono::steady_clock::now() < deadline)
        if (!fill(deadline))
            break;
    return _peerClosed;
}

} // namespace TestHelpers
