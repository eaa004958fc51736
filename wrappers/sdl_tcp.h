#pragma once

#include "wrappers/net_implementation.h"
#include "wrappers/wakeup.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace Wrappers {

// TCP stream transport. A listening instance hands out one instance per
// accepted peer. One thread drives an instance at a time. The sockets are
// the system's own, opened here, so that the waits and sends can use the
// descriptor; SDL_net only resolves the host to connect to, as it does for
// the datagrams.
class SDLTCP : public NetImplementation {
public:
    SDLTCP();
    ~SDLTCP() override;
    SDLTCP(const SDLTCP&) = delete;
    SDLTCP& operator=(const SDLTCP&) = delete;

    void setupListen(int port) override;
    void setupSend(std::string host, int port) override;
    int sendData(const char* data, int len) override;
    int receive(void* buf, int size, int count, int timeout) override;
    // Polls once a second; returns null as soon as giveUp says so. The
    // peer's connection is probed while idle, so that a peer whose host
    // has vanished fails its reads within about 30 s.
    SDLTCP* accept(const std::function<bool()>& giveUp) override;
    // The same, giving up once stop is raised; sleeps on stop between the
    // attempts: no wake-up but the attempts.
    SDLTCP* acceptUntil(const Wakeup& stop);

    // Hands over as much of data as the socket takes without waiting and
    // returns how much that was (0 when it takes nothing now); failures
    // throw Utils::NetErrorSend.
    int sendSome(const char* data, int len);
    // Waits at most timeout ms for the socket to become readable.
    void sel(int timeout);
    // Waits at most timeout ms (-1: no limit) until there are bytes to
    // receive or one of `wakeups` is raised; returns whether there are
    // bytes. Throws Utils::NetErrorSelect when the wait failed.
    bool waitForBytes(int timeout, std::initializer_list<const Wakeup*> wakeups);

    // The IPv4 address of the connected peer, network byte order; 0 unknown.
    uint32_t peerHost() const { return _peerHost; }

private:
    // One attempt a second, unless giveUp says so before it; pause() takes
    // the second after each attempt and says whether to give up.
    SDLTCP* acceptEverySecond(const std::function<bool()>& giveUp, const std::function<bool()>& pause);
    void takeWaitingPeer(int listener);
    [[noreturn]] void failOpen(const char* what);
    void keepAlive() const;

    int _fd = -1;
    uint32_t _peerHost = 0;
};

} // namespace Wrappers
