#include "wrappers/sdl_tcp.h"

#include "wrappers/sdl_socket_head.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"
#include "wrappers/sdl_socket_wait.h"
#include "wrappers/sdl_timer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
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
// Where the descriptor cannot be had, the socket is waited for through
// SDL_net in steps this long, so that a wake-up is seen after one at most.
constexpr int wakeupStepMs = 100;
// A controller's connection is waited for beside its queue and a stop;
// more wake-ups than this are not waited for.
constexpr size_t maxWakeups = 2;

} // namespace

SDLTCP::SDLTCP() : _address{}, _sock(nullptr), set(nullptr)
{
    Net::initLibrary();
}

SDLTCP::~SDLTCP()
{
    Utils::printTrace("~SDLTCP()\n");
    if (set)
        SDLNet_FreeSocketSet(set);
    if (_sock)
        SDLNet_TCP_Close(_sock);
}

void SDLTCP::open(const char* host, int port)
{
    SDLNet_ResolveHost(&_address, host, static_cast<Uint16>(port));
    _sock = SDLNet_TCP_Open(&_address);
    if (!_sock) {
        std::printf("SDLNet_TCP_Open: %s\n", SDL_GetError());
        throw Utils::NetErrorCreateSocket();
    }
    attach();
}

// Once _sock is open: the set SDL_net waits on, and the descriptor that
// the waits and sends of our own use.
void SDLTCP::attach()
{
    set = SDLNet_AllocSocketSet(2);
    SDLNet_TCP_AddSocket(set, _sock);
    _fd = findDescriptor();
}

void SDLTCP::setupListen(int port)
{
    open(nullptr, port);
}

void SDLTCP::setupSend(std::string host, int port)
{
    open(host.c_str(), port);
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

SDLTCP* SDLTCP::acceptEverySecond(const std::function<bool()>& giveUp, const std::function<bool()>& pause)
{
    if (!_sock)
        return nullptr;
    auto peer = std::make_unique<SDLTCP>();
    while (!peer->_sock) {
        if (giveUp && giveUp())
            return nullptr;
        peer->_sock = SDLNet_TCP_Accept(_sock);
        // The pause follows every attempt, the successful one too.
        if (pause())
            return nullptr;
    }
    peer->attach();
    peer->keepAlive();
    return peer.release();
}

// -1, after a line, if what should be the descriptor is not a socket: a
// build against another SDL_net then still works, with sends that wait
// and waits that look every 100 ms.
int SDLTCP::findDescriptor() const
{
    const int fd = reinterpret_cast<const SocketHead*>(_sock)->channel;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) {
        std::printf("SDLTCP: no socket descriptor behind SDL_net's socket\n");
        return -1;
    }
    return fd;
}

void SDLTCP::keepAlive() const
{
    const int fd = _fd;
    if (fd < 0)
        return;
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
    if (!set) {
        std::printf("Net::sel called without N->set set\n");
        return;
    }
    waitReadable(set, timeout);
}

bool SDLTCP::waitForBytes(int timeout, std::initializer_list<const Wakeup*> wakeups)
{
    const int fd = _sock ? _fd : -1;
    if (fd < 0) {
        try {
            sel(timeout < 0 || timeout > wakeupStepMs ? wakeupStepMs : timeout);
            return true;
        } catch (const Utils::NetErrorTimeout&) {
            return false;
        }
    }
    std::array<pollfd, 1 + maxWakeups> fds{};
    fds[0] = {fd, POLLIN, 0};
    nfds_t count = 1;
    for (const Wakeup* wakeup : wakeups) {
        if (count < fds.size())
            fds[count++] = {wakeup->descriptor(), POLLIN, 0};
    }
    const int n = poll(fds.data(), count, timeout);
    if (n < 0 && errno != EINTR) {
        std::printf("SDLTCP: poll: %s\n", Utils::systemError(errno).c_str());
        throw Utils::NetErrorSelect();
    }
    // A closed or failed connection is readable too: its receive fails.
    return n > 0 && fds[0].revents != 0;
}

int SDLTCP::receive(void* buf, int size, int count, int timeout)
{
    if (timeout > 0)
        sel(timeout);
    if (!_sock)
        throw Utils::NetErrorFault();
    const int n = SDLNet_TCP_Recv(_sock, buf, size * count);
    if (n <= 0)
        throw Utils::NetErrorFault();
    return n;
}

int SDLTCP::sendSome(const char* data, int len)
{
    if (!_sock)
        throw Utils::NetErrorSend();
    const int fd = _fd;
    if (fd < 0)
        return sendData(data, len);
    for (;;) {
        const ssize_t n = ::send(fd, data, static_cast<size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL);
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
    if (!_sock)
        throw Utils::NetErrorSend();
    const int n = SDLNet_TCP_Send(_sock, data, len);
    if (n < len)
        throw Utils::NetErrorSend();
    return n;
}

uint32_t SDLTCP::peerHost() const
{
    const IPaddress* peer = _sock ? SDLNet_TCP_GetPeerAddress(_sock) : nullptr;
    return peer ? peer->host : 0;
}

} // namespace Wrappers
