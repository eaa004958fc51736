#pragma once

#include "wrappers/net_implementation.h"
#include "wrappers/sender_drops.h"

#include <SDL_net.h>

#include <cstdint>
#include <functional>
#include <string>

namespace Wrappers {

// UDP datagram transport: a listener hands up one datagram per receive; a
// sender cuts a buffer into datagrams of at most 1024 bytes towards one
// destination. One thread drives an instance at a time.
class SDLUDP : public NetImplementation {
public:
    SDLUDP();
    ~SDLUDP() override;
    SDLUDP(const SDLUDP&) = delete;
    SDLUDP& operator=(const SDLUDP&) = delete;

    void setupListen(int port) override;
    void setupSend(std::string host, int port) override;
    int sendData(const char* data, int len) override;
    // One datagram per call. A datagram longer than the request is served
    // over the following calls, before the next datagram.
    int receive(void* buf, int size, int count, int timeout) override;
    NetImplementation* accept(const std::function<bool()>& giveUp) override;

    // Waits at most timeout ms for a datagram to be ready.
    void sel(int timeout);

    // A listener hears anyone until told otherwise. After hearOnly it hears
    // only datagrams from host and, from the first one it accepts on, only
    // from that one's port; after hearNoOne nothing at all.
    void hearOnly(uint32_t host);
    void hearNoOne();
    // The next datagram from the heard host may come from a new port.
    void hearNextSender();
    // What a listener did not hear, by sender.
    const SenderDrops& drops() const { return _drops; }

private:
    void nextDatagram(int timeout);
    bool heard(const IPaddress& from);

    IPaddress _address;
    UDPsocket _sock;
    UDPpacket* _packet;
    SDLNet_SocketSet set;
    int _channel;
    // Bytes of the datagram in _packet already handed out; the rest is
    // served before the socket is read again.
    int _served;
    enum class Hearing { anyone, host, noOne };
    Hearing _hearing = Hearing::anyone;
    uint32_t _heardHost = 0; // as SDL_net keeps it: network byte order
    uint16_t _heardPort = 0;
    SenderDrops _drops;
};

} // namespace Wrappers
