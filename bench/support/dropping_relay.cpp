#include "support/dropping_relay.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>

namespace Bench {

namespace {

constexpr int receiverControlPort = 8888;
constexpr int receiverStreamPort = 6666;

int connectToReceiver()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = TestHelpers::loopbackAddress(receiverControlPort);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// One read from `from` passed on to `to`; false once either end is gone.
// The receiver's replies are a few words each, so "udpReady 6666" arrives
// in one read on loopback.
bool passOn(int from, int to, const std::string& find = "", const std::string& replace = "")
{
    char buffer[4096];
    const ssize_t n = recv(from, buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    std::string bytes(buffer, static_cast<std::size_t>(n));
    const std::size_t at = find.empty() ? std::string::npos : bytes.find(find);
    if (at != std::string::npos)
        bytes.replace(at, find.size(), replace);
    return sendAll(to, bytes);
}

} // namespace

DroppingRelay::DroppingRelay(double loss, unsigned seed)
{
    _listener.listen(1);
    _thread = std::thread([this, loss, seed] { run(loss, seed); });
}

DroppingRelay::~DroppingRelay()
{
    _stop = true;
    _thread.join();
}

void DroppingRelay::forwardDatagram(const TestHelpers::LoopbackSocket& out, bool keep)
{
    unsigned char datagram[65536];
    const ssize_t n = recv(_stream.fd(), datagram, sizeof datagram, 0);
    ++_datagrams;
    if (!keep)
        ++_dropped;
    else if (n > 0)
        out.sendTo(receiverStreamPort, datagram, static_cast<std::size_t>(n));
}

void DroppingRelay::run(double loss, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const TestHelpers::LoopbackSocket out(TestHelpers::LoopbackSocket::Kind::Udp);
    const std::string ready = "udpReady " + std::to_string(receiverStreamPort);
    const std::string ours = "udpReady " + std::to_string(streamPort());
    int controller = -1, receiver = -1;
    while (!_stop) {
        pollfd fds[] = {{_listener.fd(), POLLIN, 0},
                        {_stream.fd(), POLLIN, 0},
                        {controller, POLLIN, 0},
                        {receiver, POLLIN, 0}};
        if (poll(fds, 4, 50) <= 0)
            continue;
        if ((fds[0].revents & POLLIN) && controller < 0) {
            controller = accept(_listener.fd(), nullptr, nullptr);
            receiver = connectToReceiver();
        }
        if (fds[1].revents & POLLIN)
            forwardDatagram(out, unit(random) >= loss);
        const bool open =
            (!(fds[2].revents & (POLLIN | POLLHUP)) || passOn(controller, receiver))
            && (!(fds[3].revents & (POLLIN | POLLHUP)) || passOn(receiver, controller, ready, ours));
        if (!open) {
            close(controller);
            close(receiver);
            controller = receiver = -1;
        }
    }
    if (controller >= 0)
        close(controller);
    if (receiver >= 0)
        close(receiver);
}

} // namespace Bench
