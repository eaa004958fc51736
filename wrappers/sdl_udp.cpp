#include "wrappers/sdl_udp.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"
#include "wrappers/sdl_socket_wait.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Wrappers {

namespace {

// Room for the largest UDP payload, so that no datagram is ever cut.
constexpr int packetCapacity = 65536;
constexpr int datagramSize = 1024;

} // namespace

SDLUDP::SDLUDP()
    : _address{}, _sock(nullptr), _packet(nullptr), set(nullptr), _channel(-1), _served(0)
{
    Net::initLibrary();
}

SDLUDP::~SDLUDP()
{
    Utils::printTrace("~SDLUDP()\n");
    if (set)
        SDLNet_FreeSocketSet(set);
    if (_packet)
        SDLNet_FreePacket(_packet);
    // Closed even when set-up failed half-way, so that no descriptor leaks.
    if (_sock)
        SDLNet_UDP_Close(_sock);
}

void SDLUDP::setupListen(int port)
{
    _sock = SDLNet_UDP_Open(static_cast<Uint16>(port));
    if (!_sock) {
        std::printf("SDLNet_UDP_Open: %s\n", SDL_GetError());
        throw Utils::NetErrorCreateSocket();
    }
    set = SDLNet_AllocSocketSet(2);
    SDLNet_UDP_AddSocket(set, _sock);
    _packet = SDLNet_AllocPacket(packetCapacity);
    if (_packet)
        _packet->len = 0;
}

void SDLUDP::setupSend(std::string host, int port)
{
    SDLNet_ResolveHost(&_address, host.c_str(), static_cast<Uint16>(port));
    _sock = SDLNet_UDP_Open(0);
    if (!_sock) {
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
    if (request <= 0 || !_packet || !set)
        throw Utils::NetErrorFault();
    const int want = static_cast<int>(std::min<long long>(request, 1 << 30));

    if (_served >= _packet->len) {
        // A datagram with no bytes is no data: wait for the next one.
        do {
            if (timeout > 0)
                sel(timeout);
            while (SDLNet_CheckSockets(set, 1000) == 0) {
            }
            if (SDLNet_UDP_Recv(_sock, _packet) <= 0)
                throw Utils::NetErrorFault();
            _served = 0;
        } while (_packet->len <= 0);
    }

    const int n = std::min(want, _packet->len - _served);
    std::memcpy(buf, _packet->data + _served, static_cast<size_t>(n));
    _served += n;
    return n;
}

NetImplementation* SDLUDP::accept(const std::function<bool()>&)
{
    return nullptr;
}

void SDLUDP::sel(int timeout)
{
    if (!set) {
        std::printf("Net::sel called without set set\n");
        return;
    }
    waitReadable(set, timeout);
}

} // namespace Wrappers
