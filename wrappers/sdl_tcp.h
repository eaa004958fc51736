#pragma once

#include "wrappers/net_implementation.h"

#include <SDL_net.h>

#include <functional>
#include <string>

namespace Wrappers {

// TCP stream transport. A listening instance hands out one instance per
// accepted peer. One thread drives an instance at a time.
class SDLTCP : public NetImplementation {
public:
    SDLTCP();
    ~SDLTCP() override;
    SDLTCP(const SDLTCP&) = delete;
    SDLTCP& operator=(const SDLTCP&) = delete;

    void setupListen(int port) override;
    void setupSend(std::string host, int port) override;
    int sendData(const char* data, int len) override;
    int sendSome(const char* data, int len) override;
    int receive(void* buf, int size, int count, int timeout) override;
    // Polls once a second; returns null as soon as giveUp says so. The
    // peer's connection is probed while idle, so that a peer whose host
    // has vanished fails its reads within about 30 s.
    NetImplementation* accept(const std::function<bool()>& giveUp) override;
    // Sleeps on stop between the attempts: no wake-up but the attempts.
    NetImplementation* acceptUntil(const Wakeup& stop) override;

    // Waits at most timeout ms for the socket to become readable.
    void sel(int timeout);
    // Sleeps on the socket and the wake-ups together. Throws
    // Utils::NetErrorSelect when the wait failed.
    bool waitForBytes(int timeout, std::initializer_list<const Wakeup*> wakeups) override;

    uint32_t peerHost() const override;

private:
    void open(const char* host, int port);
    // One attempt a second, unless giveUp says so before it; pause() takes
    // the second after each attempt and says whether to give up.
    NetImplementation* acceptEverySecond(const std::function<bool()>& giveUp,
                                         const std::function<bool()>& pause);
    void attach();
    int findDescriptor() const;
    void keepAlive() const;

    IPaddress _address;
    TCPsocket _sock;
    SDLNet_SocketSet set;
    int _fd = -1; // the system's descriptor behind _sock; -1 when it cannot be had
};

} // namespace Wrappers
