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
    int receive(void* buf, int size, int count, int timeout) override;
    // Polls once a second; returns null as soon as giveUp says so.
    NetImplementation* accept(const std::function<bool()>& giveUp) override;

    // Waits at most timeout ms for the socket to become readable.
    void sel(int timeout);

    uint32_t peerHost() const override;

private:
    void open(const char* host, int port);

    IPaddress _address;
    TCPsocket _sock;
    SDLNet_SocketSet set;
};

} // namespace Wrappers
