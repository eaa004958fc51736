#include "wrappers/sdl_udp.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"
#include "wrappers/socket_wait.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace Wrappers {

namespace {

// Room for the largest UDP payload, so that no datagram is ever cut.
constexpr int packetCapacity = 65536;
constexpr int datagramSize = 1024;
// Datagrams dropped in a row before the deadline is looked at again.
constexpr int dropBatch = 256;
// An arrival time further back than this was stepped by a change of the
// wall clock between the arrival and the read: the read's time is nearer.
constexpr std::chrono::seconds longestAge{10};
// Room in the kernel for what comes while the decoding thread waits for
// the device: it takes the datagrams once per buffer, and a sender may
// send seconds of audio at once. Beyond the system's limit only where the
// receiver may go beyond it.
constexpr int receiveBuffer = 1 << 20;

// When the datagram of `message` came in, from the kernel's timestamp
// (wall-clock time) taken to the steady clock; now when there is none.
std::chrono::steady_clock::time_point arrival(msghdr& message)
{
    const auto now = std::chrono::steady_clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        const auto at = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        const auto age = std::chrono::system_clock::now() - at;
        if (age >= std::chrono::system_clock::duration::zero() && age < longestAge)
            return now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(age);
    }
    return now;
}

} // namespace

SDLUDP::SDLUDP() : _address{}, _sock(nullptr), _packet(nullptr), _channel(-1)
{
    Net::initLibrary();
}

SDLUDP::~SDLUDP()
{
    Utils::printTrace("~SDLUDP()\n");
    if (_packet)
        SDLNet_FreePacket(_packet);
    // Closed even when set-up failed half-way, so that no descriptor leaks.
    if (_sock)
        SDLNet_UDP_Close(_sock);
    if (_fd >= 0)
        close(_fd);
}

// The line keeps the words SDL_net gave when it opened this socket:
// console texts are matched exactly by those who read the logs. The
// address is not shared: a port another program holds is a failure.
void SDLUDP::setupListen(int port)
{
    _fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (_fd < 0) {
        std::printf("SDLNet_UDP_Open: Couldn't create socket\n");
        throw Utils::NetErrorCreateSocket();
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::printf("SDLNet_UDP_Open: Couldn't bind to local port\n");
        close(_fd);
        _fd = -1;
        throw Utils::NetErrorCreateSocket();
    }
    const int on = 1;
    setsockopt(_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (setsockopt(_fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
        setsockopt(_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    _datagram.resize(packetCapacity);
}

void SDLUDP::setupSend(std::string host, int port)
{
    SDLNet_ResolveHost(&_address, host.c_str(), static_cast<Uint16>(port));
    _sock = SDLNet_UDP_Open(0);
    if (!_sock) {
        // Console texts are matched exactly by those who read the logs; this
        // one has always carried the "yarr".
        std::printf("SDLNet_UDP_Open: yarr %s\n", SDL_GetError());
        throw Utils::NetErrorCreateSocket();
    }
    _channel = SDLNet_UDP_Bind(_sock, -1, &_address);
    if (_channel == -1) {
        std::printf("SDLNet_UDP_Bind: %s\n", SDL_GetError());
        throw Utils::NetErrorBind();
    }
    _packet = SDLNet_AllocPacket(packetCapacity);
}

int SDLUDP::sendData(const char* data, int len)
{
    if (!_packet || len <= 0)
        return 0;
    int result = 0;
    for (int offset = 0; offset < len; offset += datagramSize) {
        const int n = std::min(datagramSize, len - offset);
        std::memcpy(_packet->data, data + offset, static_cast<size_t>(n));
        _packet->len = n;
        result = SDLNet_UDP_Send(_sock, _channel, _packet);
        // The channel has one destination: 0 means the datagram did not go.
        if (result < 1)
            throw Utils::NetErrorFault();
    }
    return result;
}

int SDLUDP::receive(void* buf, int size, int count, int timeout)
{
    const long long request = static_cast<long long>(size) * count;
    const int n = serve(buf, static_cast<int>(std::clamp<long long>(request, 0, 1 << 30)), timeout);
    if (n == 0)
        throw Utils::NetErrorTimeout();
    return n;
}

int SDLUDP::receiveWaiting(void* buf, int size, int timeout)
{
    return serve(buf, size, timeout);
}

int SDLUDP::serve(void* buf, int want, int timeout)
{
    if (want <= 0 || _fd < 0)
        throw Utils::NetErrorFault();
    if (_served >= _length) {
        if (want >= packetCapacity)
            return nextDatagram(buf, timeout);
        _length = nextDatagram(_datagram.data(), timeout);
        _served = 0;
    }
    const int n = std::min(want, _length - _served);
    std::memcpy(buf, _datagram.data() + _served, static_cast<size_t>(n));
    _served += n;
    return n;
}

void SDLUDP::hearOnly(uint32_t host)
{
    _hearing = Hearing::host;
    _heardHost = host;
    _heardPort = 0;
}

void SDLUDP::hearNoOne()
{
    _hearing = Hearing::noOne;
}

void SDLUDP::hearNextSender()
{
    _heardPort = 0;
}

// Waits until a datagram with bytes from a sender that is heard is in
// `into`, at most timeout ms in all; with a timeout of 0, takes only what
// is waiting already. Returns its length, 0 when none came. Empty
// datagrams and those of other senders are dropped on the way without
// starting the wait again, so no trickle of them can hold the caller; a
// flood of them is taken off the socket in batches even past the
// deadline, so that it cannot crowd out the stream.
int SDLUDP::nextDatagram(void* into, int timeout)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    for (int dropped = 0;;) {
        const int got = receiveOne(into);
        if (got > 0)
            return got;
        if (got < 0 && ++dropped < dropBatch)
            continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return 0;
        dropped = 0;
        if (got == 0) {
            pollfd fd{_fd, POLLIN, 0};
            pollFor(&fd, 1, static_cast<int>(left), "SDLUDP");
        }
    }
}

// One datagram off the socket without waiting: its length when it is one
// to hear, -1 when it was dropped, 0 when none was waiting.
int SDLUDP::receiveOne(void* into)
{
    sockaddr_in from{};
    iovec part{into, packetCapacity};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(_fd, &message, MSG_DONTWAIT);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return 0;
        throw Utils::NetErrorFault();
    }
    if (got == 0 || !heard(from.sin_addr.s_addr, from.sin_port))
        return -1;
    _arrivedAt = arrival(message);
    return static_cast<int>(got);
}

// Whether a datagram from host:port (network byte order) is for the
// caller: from the heard host and, once one has been accepted, from the
// same port; others are counted.
bool SDLUDP::heard(uint32_t host, uint16_t port)
{
    if (_hearing == Hearing::anyone)
        return true;
    if (_hearing == Hearing::noOne || host != _heardHost || (_heardPort != 0 && port != _heardPort)) {
        _drops.note(host, port);
        return false;
    }
    _heardPort = port;
    return true;
}

NetImplementation* SDLUDP::accept(const std::function<bool()>&)
{
    return nullptr;
}

void SDLUDP::sel(int timeout)
{
    if (_fd < 0) {
        std::printf("Net::sel called without set set\n");
        return;
    }
    pollfd fd{_fd, POLLIN, 0};
    if (pollFor(&fd, 1, timeout, "SDLUDP") == 0)
        throw Utils::NetErrorTimeout();
}

} // namespace Wrappers
