#include "wrappers/sdl_tcp.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"
#include "wrappers/sdl_timer.h"
#include "wrappers/socket_wait.h"

#include <SDL_net.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace Wrappers {

namespace {

// Keepalive probes after 10 s of silence, every 5 s, 4 unanswered ones
// ending the connection; the same bound for data that is never
// acknowledged.
constexpr int keepIdleS = 10;
constexpr int keepIntervalS = 5;
constexpr int keepCount = 4;
constexpr unsigned int unacknowledgedLimitMs = 30000;
// Connections that may wait to be accepted.
constexpr int backlog = 5;
// A controller's connection is waited for beside its queue and a stop;
// more wake-ups than this are not waited for.
constexpr size_t maxWakeups = 2;

sockaddr_in ipv4(uint32_t host, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = host;
    address.sin_port = port;
    return address;
}

// Small commands must not wait for more to join them.
void noDelay(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

SDLTCP::SDLTCP()
{
    Net::initLibrary();
}

SDLTCP::~SDLTCP()
{
    Utils::printTrace("~SDLTCP()\n");
    if (_fd >= 0)
        close(_fd);
}

// The lines keep the words they had when SDL_net opened these sockets:
// console texts are matched exactly by those who read the logs.
void SDLTCP::failOpen(const char* what)
{
    std::printf("SDLNet_TCP_Open: %s: %s\n", what, Utils::systemError(errno).c_str());
    if (_fd >= 0)
        close(_fd);
    _fd = -1;
    throw Utils::NetErrorCreateSocket();
}

// Non-blocking, so that an attempt to accept returns at once when no one
// waits; the address may be taken again while an old connection lingers.
void SDLTCP::setupListen(int port)
{
    _fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (_fd < 0)
        failOpen("Couldn't create socket");
    const int on = 1;
    const sockaddr_in address = ipv4(htonl(INADDR_ANY), htons(static_cast<uint16_t>(port)));
    if (setsockopt(_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || bind(_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        failOpen("Couldn't bind to local port");
    if (listen(_fd, backlog) != 0)
        failOpen("Couldn't listen to local port");
}

void SDLTCP::setupSend(std::string host, int port)
{
    IPaddress resolved{};
    if (SDLNet_ResolveHost(&resolved, host.c_str(), static_cast<Uint16>(port)) != 0) {
        std::printf("SDLNet_ResolveHost: cannot resolve %s\n", host.c_str());
        throw Utils::NetErrorCreateSocket();
    }
    _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (_fd < 0)
        failOpen("Couldn't create socket");
    const sockaddr_in address = ipv4(resolved.host, resolved.port);
    if (connect(_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        failOpen("Couldn't connect to remote host");
    _peerHost = resolved.host;
    noDelay(_fd);
}

SDLTCP* SDLTCP::accept(const std::function<bool()>& giveUp)
{
    const Timer timer;
    return acceptEverySecond(giveUp, [&] {
        // With a giveUp the pause is taken in slices so that a stop is seen
        // quickly.
        if (!giveUp) {
            timer.sleep(1000);
            return false;
        }
        for (int slept = 0; slept < 1000; slept += 50) {
            if (giveUp())
                return true;
            timer.sleep(50);
        }
        return false;
    });
}

SDLTCP* SDLTCP::acceptUntil(const Wakeup& stop)
{
    return acceptEverySecond([&stop] { return stop.raised(); }, [&stop] { return stop.wait(1000); });
}

// The connections taken and the bytes sent change the socket, which lives
// in the system, not in a member, so clang-tidy would have this and
// sendSome() const; they change the transport all the same.
// NOLINTNEXTLINE(readability-make-member-function-const)
SDLTCP* SDLTCP::acceptEverySecond(const std::function<bool()>& giveUp, const std::function<bool()>& pause)
{
    if (_fd < 0)
        return nullptr;
    auto peer = std::make_unique<SDLTCP>();
    while (peer->_fd < 0) {
        if (giveUp && giveUp())
            return nullptr;
        peer->takeWaitingPeer(_fd);
        // The pause follows every attempt, the successful one too.
        if (pause())
            return nullptr;
    }
    peer->keepAlive();
    return peer.release();
}

// Leaves _fd at -1 when no one waits, or when no descriptor is free for
// the one who does: the connection then waits for the next attempt. The
// accepted socket blocks, so that a send is never cut short.
void SDLTCP::takeWaitingPeer(int listener)
{
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    _fd = fd;
    _peerHost = from.sin_addr.s_addr;
    noDelay(_fd);
}

void SDLTCP::keepAlive() const
{
    const int fd = _fd;
    const int on = 1;
    const bool ok =
        setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0
        && setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &keepIdleS, sizeof keepIdleS) == 0
        && setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &keepIntervalS, sizeof keepIntervalS) == 0
        && setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &keepCount, sizeof keepCount) == 0
        && setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledgedLimitMs, sizeof unacknowledgedLimitMs)
               == 0;
    if (!ok)
        std::printf("SDLTCP: keepalive not set: %s\n", Utils::systemError(errno).c_str());
}

void SDLTCP::sel(int timeout)
{
    if (_fd < 0) {
        // Worded as it always was, for those who match the logs.
        std::printf("Net::sel called without N->set set\n");
        return;
    }
    pollfd fd{_fd, POLLIN, 0};
    if (pollFor(&fd, 1, timeout, "SDLTCP") == 0)
        throw Utils::NetErrorTimeout();
}

bool SDLTCP::waitForBytes(int timeout, std::initializer_list<const Wakeup*> wakeups)
{
    if (_fd < 0)
        throw Utils::NetErrorFault();
    std::array<pollfd, 1 + maxWakeups> fds{};
    fds[0] = {_fd, POLLIN, 0};
    nfds_t count = 1;
    for (const Wakeup* wakeup : wakeups) {
        if (count < fds.size())
            fds[count++] = {wakeup->descriptor(), POLLIN, 0};
    }
    // A closed or failed connection is readable too: its receive fails.
    return pollFor(fds.data(), count, timeout, "SDLTCP") > 0 && fds[0].revents != 0;
}

int SDLTCP::receive(void* buf, int size, int count, int timeout)
{
    if (timeout > 0)
        sel(timeout);
    if (_fd < 0)
        throw Utils::NetErrorFault();
    const size_t request = static_cast<size_t>(std::max(size * count, 0));
    for (;;) {
        const ssize_t n = recv(_fd, buf, request, 0);
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0 || errno != EINTR)
            throw Utils::NetErrorFault();
    }
}

// NOLINTNEXTLINE(readability-make-member-function-const)
int SDLTCP::sendSome(const char* data, int len)
{
    if (_fd < 0)
        throw Utils::NetErrorSend();
    for (;;) {
        const ssize_t n = ::send(_fd, data, static_cast<size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            throw Utils::NetErrorSend();
    }
}

int SDLTCP::sendData(const char* data, int len)
{
    if (_fd < 0)
        throw Utils::NetErrorSend();
    int sent = 0;
    while (sent < len) {
        const ssize_t n = ::send(_fd, data + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Utils::NetErrorSend();
        sent += static_cast<int>(n);
    }
    return sent;
}

} // namespace Wrappers
