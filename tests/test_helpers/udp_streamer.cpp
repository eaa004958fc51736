#include "test_helpers/udp_streamer.h"

#include "test_helpers/wait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace TestHelpers {

namespace {

int openSender(int port, sockaddr_in& to)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        throw std::runtime_error("socket() failed");
    to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd;
}

void sendOne(int fd, const sockaddr_in& to, const Bytes& d)
{
    ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

} // namespace

UdpStreamer::UdpStreamer(int port, std::vector<Bytes> datagrams, Options options)
    : _port(port), _datagrams(std::move(datagrams)), _options(options)
{
    _thread = std::thread([this] { run(); });
}

UdpStreamer::~UdpStreamer()
{
    _stop = true;
    _thread.join();
}

bool UdpStreamer::waitDone(std::chrono::milliseconds timeout) const
{
    return waitFor([this] { return _done.load(); }, timeout);
}

void UdpStreamer::run()
{
    using namespace std::chrono;
    sockaddr_in to;
    int fd = openSender(_port, to);
    std::size_t total = 0;
    for (const auto& d : _datagrams)
        total += d.size();

    const auto start = steady_clock::now();
    _firstSent = start;
    auto pausedFor = milliseconds(0);
    std::size_t sent = 0;
    for (std::size_t i = 0; i < _datagrams.size() && !_stop; ++i) {
        if (i == _options.pauseBefore) {
            const auto until = steady_clock::now() + _options.pause;
            while (!_stop && steady_clock::now() < until)
                std::this_thread::sleep_for(milliseconds(5));
            pausedFor += _options.pause;
        }
        const auto due = start + pausedFor - _options.lead +
                         duration_cast<steady_clock::duration>(
                             duration<double>(_options.seconds * double(sent) / double(total)));
        while (!_stop && steady_clock::now() < due)
            std::this_thread::sleep_for(milliseconds(2));
        sendOne(fd, to, _datagrams[i]);
        sent += _datagrams[i].size();
    }
    ::close(fd);
    _done = true;
}

void sendDatagrams(int port, const std::vector<Bytes>& datagrams)
{
    sockaddr_in to;
    int fd = openSender(port, to);
    for (const auto& d : datagrams)
        sendOne(fd, to, d);
    ::close(fd);
}

} // namespace TestHelpers
