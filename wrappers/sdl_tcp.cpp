#include "wrappers/sdl_tcp.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"
#include "wrappers/sdl_socket_wait.h"
#include "wrappers/sdl_timer.h"

#include <cstdint>
#include <cstdio>
#include <memory>

namespace Wrappers {

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
    set = SDLNet_AllocSocketSet(2);
    SDLNet_TCP_AddSocket(set, _sock);
}

void SDLTCP::setupListen(int port)
{
    open(nullptr, port);
}

void SDLTCP::setupSend(std::string host, int port)
{
    open(host.c_str(), port);
}

NetImplementation* SDLTCP::accept(const std::function<bool()>& giveUp)
{
    if (!_sock)
        return nullptr;
    auto peer = std::make_unique<SDLTCP>();
    while (!peer->_sock) {
        if (giveUp && giveUp())
            return nullptr;
        Timer timer;
        peer->_sock = SDLNet_TCP_Accept(_sock);
        // The pause follows every attempt, the successful one too. With a
        // giveUp it is taken in slices so that a stop is seen quickly.
        if (!giveUp) {
            timer.sleep(1000);
            continue;
        }
        for (int slept = 0; slept < 1000; slept += 50) {
            if (giveUp())
                return nullptr;
            timer.sleep(50);
        }
    }
    peer->set = SDLNet_AllocSocketSet(2);
    SDLNet_TCP_AddSocket(peer->set, peer->_sock);
    return peer.release();
}

void SDLTCP::sel(int timeout)
{
    if (!set) {
        std::printf("Net::sel called without N->set set\n");
        return;
    }
    waitReadable(set, timeout);
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
