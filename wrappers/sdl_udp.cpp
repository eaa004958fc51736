#include "wrappers/sdl_udp.h"

#include "utils/console.h"
#include "utils/errors.h"
#include "wrappers/net.h"
#include "wrappers/sdl_socket_wait.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace Wrappers {

namespace {

// Room for the largest UDP payload, so that no datagram is ever cut.
constexpr int packetCapacity = 65536;
constexpr int datagramSize = 1024;
// Datagrams dropped in a row before the deadline is looked at again.
constexpr int dropBatch = 256;

} // namespace

SDLUDP::SDLUDP() : _address{}, _sock(nullptr), _packet(nullptr), set(nullptr), _channel(-1), _served(0)
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
    if (request <= 0 || !_packet || !set)
        throw Utils::NetErrorFault();
    const int want = static_cast<int>(std::min<long long>(request, 1 << 30));

    if (_served >= _packet->len)
        nextDatagram(timeout);

    const int n = std::min(want, _packet->len - _served);
    std::memcpy(buf, _packet->data + _served, static_cast<size_t>(n));
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
// _packet, at most timeout ms in all; with a timeout of 0, takes only what
// is waiting already. Empty datagrams and those of other senders are
// dropped on the way without starting the wait again, so no trickle of them
// can hold the caller; a flood of them is taken off the socket in batches
// even past the deadline, so that it cannot crowd out the stream.
void SDLUDP::nextDatagram(int timeout)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout, 0));
    for (int dropped = 0;;) {
        const int got = SDLNet_UDP_Recv(_sock, _packet);
        if (got < 0)
            throw Utils::NetErrorFault();
        if (got > 0 && _packet->len > 0 && heard(_packet->address)) {
            _served = 0;
            return;
        }
        _served = _packet->len; // a dropped datagram is never served
        if (got > 0 && ++dropped < dropBatch)
            continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            throw Utils::NetErrorTimeout();
        dropped = 0;
        if (got == 0)
            waitReadable(set, static_cast<int>(left));
    }
}

// Whether a datagram from `from` is for the caller: from the heard host
// and, once one has been accepted, from the same port; others are counted.
bool SDLUDP::heard(const IPaddress& from)
{
    if (_hearing == Hearing::anyone)
        return true;
    if (_hearing == Hearing::noOne || from.host != _heardHost
        || (_heardPort != 0 && from.port != _heardPort)) {
        _drops.note(from.host, from.port);
        return false;
    }
    _heardPort = from.port;
    return true;
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
